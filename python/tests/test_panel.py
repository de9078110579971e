"""The panel's HTTP and WebSocket handlers: who may change what, and that a
refused or malformed request reaches no module."""
from __future__ import annotations

import asyncio
import json

import pytest

pytest.importorskip("aiohttp", reason="the panel needs python3-aiohttp")
pytest.importorskip("pytest_aiohttp", reason="the panel's handler tests need python3-pytest-aiohttp")

import varnode  # noqa: E402
from varnode.panel.poller import Poller, module_for  # noqa: E402
from varnode.panel.server import Panel, Settings, make_app  # noqa: E402

PORT = 8470
HOST = f"127.0.0.1:{PORT}"
ORIGIN = f"http://{HOST}"
KS01 = "198.18.0.13"
WE01 = "198.18.0.18"


def make(**options):
    settings = Settings(port=PORT, discover=False, **options)
    return make_app(settings)


async def client_for(aiohttp_client, **options):
    return await aiohttp_client(make(**options), headers={"Host": HOST})


def with_module(app, kind, address):
    """A poller that is never started: whatever it sends, the test counts."""
    panel: Panel = app["panel"]
    poller = Poller(module_for(kind, address), kind, panel.pool, 1.0)
    panel.pollers[address] = poller
    return poller


JSON = {"Content-Type": "application/json"}


@pytest.mark.parametrize("options, headers, status", [
    ({}, {"Host": "evil.example:8470"}, 421),               # a rebound name
    ({}, {"Host": "127.0.0.1:9999"}, 421),
    ({}, {"Origin": "http://evil.example"}, 403),           # a cross-site request
    ({}, {"Origin": "null"}, 403),
    ({"read_only": True}, {}, 403),
    ({"token": "s3cret"}, {}, 401),                         # --listen without the token
    ({"token": "s3cret"}, {"Authorization": "Bearer wrong"}, 401),
    ({}, {"Content-Type": "text/plain"}, 415),              # what a form of another site can send
])
async def test_a_refused_change_reaches_no_module(aiohttp_client, options, headers, status):
    client = await client_for(aiohttp_client, **options)
    poller = with_module(client.app, "WE01", WE01)
    sent = {**JSON, **headers}
    reply = await client.post(f"/api/modules/{WE01}/set", data=json.dumps({"channels": {"1": 3}}), headers=sent)
    assert reply.status == status
    assert "error" in await reply.json()
    assert poller.requests == 0


@pytest.mark.parametrize("body", [
    {"channels": {"1": "3"}},
    {"channels": {"1": True}},
    {"channels": {"9": 1.0}},
    {"channels": [1.0]},
    {},
])
async def test_a_malformed_value_is_refused_before_sending(aiohttp_client, body):
    client = await client_for(aiohttp_client)
    poller = with_module(client.app, "WE01", WE01)
    reply = await client.post(f"/api/modules/{WE01}/set", data=json.dumps(body), headers=JSON)
    assert reply.status == 400
    assert poller.requests <= 1 and poller.outputs == {}


async def test_non_finite_json_numbers_are_refused(aiohttp_client):
    # Python's json reads NaN and Infinity, which a module would be sent as such.
    client = await client_for(aiohttp_client)
    poller = with_module(client.app, "WE01", WE01)
    for text in ('{"channels": {"1": NaN}}', '{"channels": {"1": Infinity}}', "[1]", "not json"):
        reply = await client.post(f"/api/modules/{WE01}/set", data=text, headers=JSON)
        assert reply.status == 400, text
    assert poller.requests == 0


@pytest.mark.parametrize("origin", [None, "http://evil.example", f"http://localhost:{PORT + 1}"])
async def test_a_websocket_from_elsewhere_is_refused(aiohttp_client, origin):
    client = await client_for(aiohttp_client)
    headers = {} if origin is None else {"Origin": origin}
    with pytest.raises(Exception) as refused:
        await client.ws_connect("/ws", headers=headers)
    assert "403" in str(refused.value)


async def test_the_page_and_a_websocket_of_its_own_origin_are_served(aiohttp_client):
    client = await client_for(aiohttp_client)
    page = await client.get("/")
    assert page.status == 200 and "panel.js" in await page.text()
    socket = await client.ws_connect("/ws", headers={"Origin": ORIGIN})
    hello = json.loads((await socket.receive()).data)
    assert hello["type"] == "hello" and hello["rack"] == []
    await socket.close()


async def test_read_only_says_so_to_the_page(aiohttp_client):
    client = await client_for(aiohttp_client, read_only=True)
    assert (await (await client.get("/api/config")).json())["read_only"] is True


@pytest.mark.usefixtures("rack")
async def test_the_token_lets_a_change_through_and_its_absence_switches_nothing(aiohttp_client):
    client = await client_for(aiohttp_client, token="s3cret")
    panel: Panel = client.app["panel"]
    await panel.add(KS01)
    ks01 = varnode.KS01(KS01)
    ks01.write({2: False})
    body = json.dumps({"channels": {"2": True}})
    for headers in ({"Host": "evil.example:8470"}, {"Origin": "http://evil.example"}, {}):
        reply = await client.post(f"/api/modules/{KS01}/write", data=body, headers={**JSON, **headers,
                                  **({"Authorization": "Bearer s3cret"} if headers else {})})
        assert reply.status in (401, 403, 421)
        assert ks01.measure([2]) == [0.0]
    reply = await client.post(f"/api/modules/{KS01}/write", data=body,
                              headers={**JSON, "Authorization": "Bearer s3cret"})
    assert reply.status == 200
    assert ks01.measure([2]) == [pytest.approx(0.5)]
    ks01.write({2: False})


@pytest.mark.usefixtures("rack")
async def test_an_address_that_never_answers_is_refused_and_a_live_module_streams(aiohttp_client):
    client = await client_for(aiohttp_client, interval=0.1)
    panel: Panel = client.app["panel"]
    with pytest.raises(varnode.TimeoutError):
        await panel.add("198.18.0.31")  # drops every reply: cannot even be identified
    poller = await panel.add("198.18.0.15")
    socket = await client.ws_connect("/ws", headers={"Origin": ORIGIN})
    await socket.send_str(json.dumps({"watch": ["198.18.0.15"]}))
    await client.post("/api/modules/198.18.0.15/enable", data=json.dumps({"channels": [1]}), headers=JSON)
    counts = []
    while len(counts) < 3:
        message = json.loads((await asyncio.wait_for(socket.receive(), 10)).data)
        if message["type"] == "module" and message["state"]["values"]:
            counts.append(message["state"]["values"]["1"])
    assert counts == sorted(counts) and counts[-1] > counts[0]  # 1000 pulses a second
    # The same module added twice is one poller.
    assert await panel.add("198.18.0.15") is poller
    await socket.close()


@pytest.mark.parametrize("body", [
    {"prefix": "../outside", "channels": []},
    {"prefix": "a/b", "channels": []},
    {"prefix": "ok", "channels": [{"address": "198.18.0.99", "channel": "1"}]},
    {"prefix": "ok", "channels": [], "format": "influx"},
    {"prefix": "ok", "channels": "all"},
])
async def test_a_bad_recording_request_writes_no_file(aiohttp_client, tmp_path, body):
    pytest.importorskip("varnode.log")
    client = await client_for(aiohttp_client, record_dir=str(tmp_path / "records"))
    reply = await client.post("/api/recording/start", data=json.dumps(body), headers=JSON)
    assert reply.status == 400
    assert not (tmp_path / "records").exists() and list(tmp_path.glob("outside*")) == []
