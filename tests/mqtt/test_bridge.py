"""varnode-mqtt against a real mosquitto broker on loopback and the virtual
rack of rack.json; run inside the rack's namespace by scripts/mqtt-test.sh."""
import json
import os
import signal
import subprocess
import tempfile
import threading
import time
import uuid

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
BRIDGE = os.environ.get("VARNODE_MQTT", "varnode-mqtt")
PORT = 18830
SITE = "varnode/hall/"


@pytest.fixture(scope="module", autouse=True)
def private_namespace():
    if os.environ.get("VARNODE_TEST_RACK") == os.readlink("/proc/self/ns/net"):
        pytest.fail("the bridge tests must run in the rack's namespace (scripts/mqtt-test.sh)")


class Broker:
    def __init__(self, folder):
        self.folder = folder
        self.passwords = os.path.join(folder, "passwords")
        subprocess.run(["mosquitto_passwd", "-b", "-c", self.passwords, "bridge", "secret"], check=True)
        subprocess.run(["mosquitto_passwd", "-b", self.passwords, "test", "test"], check=True)
        self.config = os.path.join(folder, "mosquitto.conf")
        with open(self.config, "w") as f:
            f.write(f"user root\nlistener {PORT} 127.0.0.1\nallow_anonymous false\npassword_file {self.passwords}\n"
                    f"persistence true\npersistence_location {folder}/\n")
        self.process = None

    def start(self):
        self.process = subprocess.Popen(["mosquitto", "-c", self.config], stderr=subprocess.DEVNULL)
        wait(lambda: port_open(), "the broker listens")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)  # saves its sessions
        self.process.wait(10)


def port_open():
    import socket
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", PORT)) == 0


def wait(condition, what, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    pytest.fail("timed out waiting until " + what)


class Listener:
    """Every message under varnode/#, by topic, with MQTT 5 properties."""

    def __init__(self):
        self.lock = threading.Lock()
        self.messages = {}
        self.client = mqtt.Client(client_id="listener-" + uuid.uuid4().hex[:8], protocol=mqtt.MQTTv5)
        self.client.username_pw_set("test", "test")
        self.client.on_message = self.on_message
        self.client.on_connect = lambda c, u, f, rc, p=None: c.subscribe("#", qos=1)
        self.client.connect("127.0.0.1", PORT)
        self.client.loop_start()

    def on_message(self, client, userdata, message):
        with self.lock:
            self.messages.setdefault(message.topic, []).append(message)

    def all(self, topic):
        with self.lock:
            return list(self.messages.get(topic, []))

    def json(self, topic):
        return [json.loads(m.payload) for m in self.all(topic)]

    def last(self, topic, condition=lambda payload: True, timeout=20.0):
        def found():
            for m in reversed(self.all(topic)):
                payload = m.payload.decode()
                try:
                    payload = json.loads(payload)
                except ValueError:
                    pass
                if condition(payload):
                    return payload
            return None
        return wait(found, f"a message on {topic}", timeout)

    def command(self, module, request, correlation=None):
        properties = Properties(PacketTypes.PUBLISH)
        properties.ResponseTopic = "answers/" + module
        properties.CorrelationData = (correlation or uuid.uuid4().hex).encode()
        self.client.publish(SITE + module + "/set", json.dumps(request), qos=1, properties=properties)
        return properties.CorrelationData

    def answer(self, module, correlation, timeout=20.0):
        def found():
            for m in self.all("answers/" + module):
                if getattr(m.properties, "CorrelationData", None) == correlation:
                    return json.loads(m.payload)
            return None
        return wait(found, "the answer to a command", timeout)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def description(folder, **broker):
    with open(os.path.join(HERE, "bridge.json")) as f:
        d = json.load(f)
    d["broker"]["password_file"] = os.path.join(folder, "bridge-password")
    with open(d["broker"]["password_file"], "w") as f:
        f.write("secret\n")
    d["broker"].update(broker)
    path = os.path.join(folder, "bridge.json")
    with open(path, "w") as f:
        json.dump(d, f)
    return path


@pytest.fixture(scope="module")
def rig():
    folder = tempfile.mkdtemp(prefix="varnode-mqtt-")
    broker = Broker(folder)
    broker.start()
    listener = Listener()
    bridge = subprocess.Popen([BRIDGE, "-v", "--config", description(folder)])
    yield broker, listener, bridge, folder
    if bridge.poll() is None:
        bridge.kill()
        bridge.wait()
    listener.close()
    if broker.process.poll() is None:
        broker.stop()


def reading(listener, module, family, channel, condition=lambda p: p["status"] == "ok"):
    return listener.last(f"{SITE}{module}/{family}/{channel}", condition)


def test_every_family_publishes_the_rack_values(rig):
    _, listener, _, _ = rig
    # KL01 inputs read as the rack's input byte 0xA0: channel 6 set, 7 clear.
    assert reading(listener, "press", "kl01", 6)["value"] == 1
    assert reading(listener, "press", "kl01", 7)["value"] == 0
    ks = reading(listener, "1013", "ks01", 3)
    assert ks["value"] == 0 and ks["unit"] == ""
    re = reading(listener, "1017", "re01", 1)
    assert re["value"] == pytest.approx(2.5, abs=1e-3) and re["unit"] == "V"
    assert reading(listener, "1017", "re01", 2)["value"] == pytest.approx(-1.25, abs=1e-3)
    # HX01 channel 1: type K at 100 °C; HX02 channel 1: Pt100 at 21.5 °C.
    assert reading(listener, "1019", "hx01", 1)["value"] == pytest.approx(373.15, abs=0.2)
    assert reading(listener, "1020", "hx02", 1)["value"] == pytest.approx(294.65, abs=0.2)
    q = reading(listener, "1015", "qu01", 1)
    assert isinstance(q["value"], int) and isinstance(q["reference"], int)
    block = listener.last(SITE + "1016/ra01/stream", lambda p: p["status"] == "ok")
    assert block["frequency"] == 100 and block["samples"] == 200 and block["index"] % 200 == 0
    assert len(block["values"]["1"]) == 200
    assert block["values"]["1"][0] == pytest.approx(0.0125, abs=1e-4)
    assert block["values"]["2"][-1] == pytest.approx(0.004, abs=1e-4)
    info = listener.last(SITE + "press/info")
    assert info["serial"] == 1011 and info["kind"] == "KL01"
    assert listener.all(SITE + "press/info")[-1].retain or True
    assert listener.last(SITE + "1018/status")["status"] == "ok"
    assert listener.last(SITE + "press/availability") == "online"
    assert listener.last(SITE + "bridge/test-bridge/availability") == "online"


def test_commands_act_and_return_their_code(rig):
    _, listener, _, _ = rig
    # KL01 channel 2 is an output: written, then read back in the readings.
    c = listener.command("press", {"command": "write", "channels": [2], "values": [True]})
    assert listener.answer("press", c)["code"] == 0
    reading(listener, "press", "kl01", 2, lambda p: p["value"] == 1)
    # KS01 output 3 on: its load current shows in the measured reading.
    c = listener.command("1013", {"command": "write", "channels": [3], "values": [1]})
    assert listener.answer("1013", c)["code"] == 0
    reading(listener, "1013", "ks01", 3, lambda p: p["status"] == "ok" and p["value"] > 0.2)
    # QU01 enabled: the count grows.
    c = listener.command("1015", {"command": "enable", "channels": [1]})
    assert listener.answer("1015", c)["code"] == 0
    reading(listener, "1015", "qu01", 1, lambda p: p["status"] == "ok" and p["value"] > 10)
    # WE01 output 4 set: its status item follows.
    c = listener.command("1018", {"command": "write", "channels": [4], "values": [1.5]})
    assert listener.answer("1018", c)["code"] == 0
    listener.last(SITE + "1018/status", lambda p: p["items"]["output 4"]["value"] == pytest.approx(1.5))
    # HX01 channel 1 switched to a voltage input: the reading becomes the raw volts.
    c = listener.command("1019", {"command": "sensor", "channels": [1], "sensors": ["voltage"]})
    assert listener.answer("1019", c)["code"] == 0
    reading(listener, "1019", "hx01", 1, lambda p: p["status"] == "ok" and abs(p["value"]) < 1)
    # Writing an input is refused by the module, with its own code (9).
    c = listener.command("press", {"command": "write", "channels": [7], "values": [1]})
    assert listener.answer("press", c)["code"] == 9


@pytest.mark.parametrize("module, request_, error", [
    ("press", "{not json", "not JSON"),
    ("press", {"command": "write", "channels": [9], "values": [1]}, "channels 1 to 8"),
    ("press", {"command": "write", "channels": [1], "values": [2]}, "not true, false"),
    ("press", {"command": "write", "channels": [1, 1], "values": [1, 1]}, "twice"),
    ("press", {"command": "enable", "channels": [1]}, "not a command of KL01"),
    ("press", {"command": "write", "channels": [1]}, "\"values\" is missing"),
    ("press", {"command": "timeout", "timeout_ms": 0}, "1 to 65535"),
    # Platinum names are HX02's; HX01 has codes 0 to 14 only.
    ("1019", {"command": "sensor", "channels": [1], "sensors": ["pt100"]}, "HX01's sensor names or codes 0 to 14"),
    ("1019", {"command": "sensor", "channels": [1], "sensors": [15]}, "codes 0 to 14"),
    ("1020", {"command": "frequency", "frequency": 60}, "not one of 6, 12, 25, 50, 100, 200, 400, 800, 1500, 3000"),
    ("1020", {"command": "frequency", "frequency": 2**32 + 6}, "not one of 6, 12"),
])
def test_bad_commands_are_answered_and_send_nothing(rig, module, request_, error):
    _, listener, _, _ = rig
    before = reading(listener, "press", "kl01", 1)
    payload = request_ if isinstance(request_, str) else json.dumps(request_)
    properties = Properties(PacketTypes.PUBLISH)
    properties.ResponseTopic = "answers/" + module
    properties.CorrelationData = uuid.uuid4().hex.encode()
    listener.client.publish(SITE + module + "/set", payload, qos=1, properties=properties)
    answer = listener.answer(module, properties.CorrelationData)
    assert answer["code"] == 3 and error in answer["error"]
    assert reading(listener, "press", "kl01", 1)["value"] == before["value"]


def test_a_redelivered_command_is_applied_once(rig):
    _, listener, _, _ = rig
    c = listener.command("1015", {"command": "clear", "channels": [1]}, correlation="clear-once")
    first = listener.answer("1015", c)
    listener.command("1015", {"command": "clear", "channels": [1]}, correlation="clear-once")
    wait(lambda: len([m for m in listener.all("answers/1015") if m.properties.CorrelationData == c]) == 2,
         "the second answer")
    answers = [json.loads(m.payload) for m in listener.all("answers/1015") if m.properties.CorrelationData == c]
    assert answers[1] == first  # the stored answer: same time, not run again


def test_a_silent_module_goes_offline_and_comes_back(rig):
    _, listener, _, _ = rig
    topic = SITE + "1012/availability"
    def went_and_came_back():
        seen = [m.payload for m in listener.all(topic)]
        return b"offline" in seen and b"online" in seen[seen.index(b"offline"):]
    wait(went_and_came_back, "KL02 went offline and came back")
    assert any(p["status"] == "timeout" and p["value"] is None for p in listener.json(SITE + "1012/kl02/6"))


def test_broker_restart_loses_no_command_and_publishes_the_queue(rig):
    broker, listener, _, _ = rig
    broker.stop()
    stopped = time.time()
    c = listener.command("press", {"command": "write", "channels": [3], "values": [1]})  # held by the client
    time.sleep(1.0)  # readings pile up in the bridge's queue meanwhile
    broker.start()
    assert listener.answer("press", c, timeout=60)["code"] == 0
    reading(listener, "press", "kl01", 2, lambda p: True)

    def taken_while_away():
        from datetime import datetime
        times = [datetime.strptime(p["time"], "%Y-%m-%dT%H:%M:%S.%fZ").timestamp() - time.timezone
                 for p in listener.json(SITE + "press/kl01/6")]
        return [t for t in times if stopped + 0.1 < t < stopped + 0.9]
    assert len(wait(taken_while_away, "the queued readings arrive", 60)) >= 2


def test_bridge_status_counts(rig):
    _, listener, _, _ = rig
    status = listener.last(SITE + "bridge/test-bridge/status", lambda p: p["commands"] > 0)
    assert status["modules"] == 9 and status["dropped"] == 0


def test_wrong_password_is_a_clear_failure(rig):
    _, _, _, folder = rig
    path = description(folder, client_id="intruder", password_file=None, password="wrong")
    with open(path) as f:
        d = json.load(f)
    del d["broker"]["password_file"]
    with open(path, "w") as f:
        json.dump(d, f)
    run = subprocess.run([BRIDGE, "--config", path], capture_output=True, text=True, timeout=30)
    assert run.returncode == 1
    assert "refused the connection" in run.stderr and "broker.password" in run.stderr


def test_death_sets_offline_through_the_will_and_sigterm_publishes_offline(rig):
    _, listener, bridge, folder = rig
    topic = SITE + "bridge/test-bridge/availability"
    bridge.kill()
    bridge.wait()
    wait(lambda: listener.all(topic)[-1].payload == b"offline", "the will")
    again = subprocess.Popen([BRIDGE, "-v", "--config", description(folder)])
    wait(lambda: listener.all(topic)[-1].payload == b"online", "online again")
    again.send_signal(signal.SIGTERM)
    assert again.wait(20) == 0
    listener.last(topic, lambda p: p == "offline")
    listener.last(SITE + "press/availability", lambda p: p == "offline")


@pytest.mark.parametrize("change, message", [
    ({"modules": [{"kind": "KL01", "address": "198.18.0.11", "pol": {}}]}, 'modules[0]: unknown key "pol"'),
    ({"broker": {"prot": 1}}, 'broker: unknown key "prot"'),
    ({"modules": [{"kind": "KL01", "address": "198.18.0.11", "poll": {"channels": [9]}}]}, "modules[0].poll.channels[0]"),
    ({"modules": [{"kind": "WE01", "address": "198.18.0.11", "poll": {"channels": [1]}}]}, "nothing to read"),
    ({"site": "a/b"}, "site: letters"),
])
def test_description_mistakes_name_their_key(tmp_path, change, message):
    d = {"site": "hall", "modules": []}
    d.update(change)
    path = tmp_path / "d.json"
    path.write_text(json.dumps(d))
    run = subprocess.run([BRIDGE, "--config", str(path)], capture_output=True, text=True, timeout=10)
    assert run.returncode == 64 and message in run.stderr


def certificates(folder):
    """A private CA and a broker certificate for 127.0.0.1, made for the test."""
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], check=True, capture_output=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    path = lambda name: os.path.join(folder, name)
    openssl("req", "-x509", *ec, "-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
            "-subj", "/CN=varnode test CA")
    openssl("req", *ec, "-keyout", path("broker.key"), "-out", path("broker.csr"), "-subj", "/CN=127.0.0.1")
    with open(path("san"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", path("broker.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
            "-CAcreateserial", "-out", path("broker.pem"), "-days", "2", "-extfile", path("san"))
    return path("ca.pem"), path("broker.pem"), path("broker.key")


def test_tls_and_mqtt_3_1_1_publish_and_answer_by_id(tmp_path):
    """The bridge over TLS to a broker it checks against its CA, speaking
    3.1.1: readings arrive, and a command's id comes back in the result."""
    folder = str(tmp_path)
    ca, certificate, key = certificates(folder)
    port = PORT + 1
    config = os.path.join(folder, "mosquitto.conf")
    with open(config, "w") as f:
        f.write(f"user root\nlistener {port} 127.0.0.1\nallow_anonymous true\n"
                f"cafile {ca}\ncertfile {certificate}\nkeyfile {key}\n")
    broker = subprocess.Popen(["mosquitto", "-c", config], stderr=subprocess.DEVNULL)
    bridge = None
    client = mqtt.Client(client_id="tls-listener", protocol=mqtt.MQTTv311)
    try:
        def listens():
            import socket
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", port)) == 0
        wait(listens, "the TLS broker listens")
        messages = []
        client.tls_set(ca_certs=ca)
        client.on_message = lambda c, u, m: messages.append(m)
        client.on_connect = lambda c, u, f, rc: c.subscribe("varnode/#", qos=1)
        client.connect("127.0.0.1", port)
        client.loop_start()

        d = {"site": "hall",
             "broker": {"host": "127.0.0.1", "port": port, "client_id": "tls-bridge", "protocol": "3.1.1",
                        "tls": {"ca_file": ca}},
             "modules": [{"kind": "KL01", "address": "198.18.0.11", "name": "press",
                          "poll": {"channels": [6], "interval": 0.2}}]}
        path = os.path.join(folder, "bridge.json")
        with open(path, "w") as f:
            json.dump(d, f)
        bridge = subprocess.Popen([BRIDGE, "--config", path])

        def payloads(topic):
            return [json.loads(m.payload) for m in list(messages) if m.topic == topic]
        wait(lambda: any(p["status"] == "ok" and p["value"] == 1 for p in payloads(SITE + "press/kl01/6")),
             "a reading over TLS")
        client.publish(SITE + "press/set", json.dumps({"id": "tls-1", "command": "timeout", "timeout_ms": 900}), qos=1)
        answer = wait(lambda: next((p for p in payloads(SITE + "press/result") if p.get("id") == "tls-1"), None),
                      "the result of a 3.1.1 command")
        assert answer["code"] == 0 and answer["result"] == "ok"

        # A CA that did not sign the broker's certificate, and one that is
        # not there: each a clear failure at start, not endless retries.
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", os.path.join(folder, "other.key"), "-out", os.path.join(folder, "other.pem"),
                        "-days", "2", "-subj", "/CN=another CA"], check=True, capture_output=True)
        for ca_file, message in [(os.path.join(folder, "other.pem"), "the TLS handshake failed"),
                                 (os.path.join(folder, "missing.pem"), "broker.tls.ca_file: ")]:
            d["broker"]["tls"]["ca_file"] = ca_file
            with open(path, "w") as f:
                json.dump(d, f)
            run = subprocess.run([BRIDGE, "--config", path], capture_output=True, text=True, timeout=30)
            assert run.returncode == 1 and message in run.stderr
    finally:
        if bridge is not None:
            bridge.send_signal(signal.SIGTERM)
            bridge.wait(20)
        client.loop_stop()
        broker.terminate()
        broker.wait(10)
