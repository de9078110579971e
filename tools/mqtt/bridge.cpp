#include "bridge.hpp"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <varnode/varnode.h>

#include "modules.hpp"

namespace mqtt_bridge {
namespace {

// Before a first connection a failed handshake is the description's fault
// (a broker that is not up yet refuses the connection instead), so the
// bridge stops and says what to check rather than retrying for ever.
std::string tls_failure(const Broker& broker, const std::string& detail) {
  return "broker " + broker.host + ":" + std::to_string(broker.port) + ": the TLS handshake failed" +
         (detail.empty() ? "" : ": " + detail) +
         " (is broker.tls.ca_file the CA that signed the broker's certificate, and broker.host a name or address in it?)";
}

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string iso_now() {
  const auto now = std::chrono::system_clock::now();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(us / 1000000);
  std::tm tm{};
  ::gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<long long>(us % 1000000));
  return text;
}

Clock::duration seconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

struct Message {
  std::string topic, payload;
  int qos = 1;
  bool retain = false;
  std::string correlation;  // MQTT 5 correlation data of a result
  bool has_correlation = false;
};

struct Command {
  std::string module_name, payload, response_topic, correlation;
  bool has_correlation = false;
};

enum class Availability { unknown, online, offline };

struct Live {
  ModuleEntry described;
  std::string name;  // the topic level; empty until identified
  Availability availability = Availability::unknown;
  unsigned failures = 0;
  std::uint64_t stream_index = 0;
  Clock::time_point next_poll{}, next_status{};
  json info, status;
  // Results of the commands seen, by correlation id, oldest first.
  std::deque<std::string> seen_order;
  std::map<std::string, std::string> results;
};

constexpr std::size_t remembered_commands = 1024;

class Bridge {
 public:
  Bridge(const Description& d, const Options& o, const std::atomic<bool>& stop) : d_(d), o_(o), stop_(stop) {
    base_ = "varnode/" + d_.site + "/";
    bridge_topic_ = base_ + "bridge/" + d_.broker.client_id + "/";
    for (const auto& described : d_.modules) {
      auto live = std::make_unique<Live>();
      live->described = described;
      live->name = described.name;
      modules_.push_back(std::move(live));
    }
  }

  int run();

 private:
  // ---- publishing through the queue
  void enqueue(Message m) {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= d_.queue) {
      queue_.pop_front();
      ++dropped_;
    }
    queue_.push_back(std::move(m));
    // Only the publisher waits for messages: waking every poller for each
    // reading cost more than the reading itself at a few thousand a second.
    queued_.notify_one();
  }
  // A change everyone may wait for: connected, stopping, failed, finished.
  void notify_everyone() {
    wake_.notify_all();
    queued_.notify_all();
  }
  void publish(const std::string& topic, const json& payload, int qos, bool retain) {
    enqueue({topic, payload.dump(), qos, retain, {}, false});
  }
  // Availability is the plain word, as the will sends it.
  void publish_word(const std::string& topic, const char* word) { enqueue({topic, word, 1, true, {}, false}); }
  void publisher();

  // ---- the modules
  std::string topic(const Live& m, const std::string& rest) const { return base_ + m.name + "/" + rest; }
  bool identify(Live& m);
  void refresh_status(Live& m);
  void set_availability(Live& m, std::uint8_t code);
  void poll(Live& m);
  void poller(std::vector<Live*> mine);
  void streamer(Live& m);
  void bridge_status();
  Live* find(const std::string& name) {
    std::lock_guard lock(names_mutex_);
    auto it = names_.find(name);
    return it == names_.end() ? nullptr : it->second;
  }
  void subscribe(Live& m);

  // ---- commands
  void commander();
  void answer(Live* m, const Command& c, const std::string& id, const json& result);

  // ---- libmosquitto callbacks (its network thread)
  static void on_connect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
  static void on_log(mosquitto*, void* self, int level, const char* text);
  static void on_disconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
  static void on_publish(mosquitto*, void* self, int mid, int rc, const mosquitto_property*);
  static void on_message(mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props);
  void connected();

  bool sleep_until(Clock::time_point t) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, t, [&] { return stop_ || fatal_; });
    return !(stop_ || fatal_);
  }
  bool running() const { return !stop_ && !fatal_; }

  const Description& d_;
  const Options& o_;
  const std::atomic<bool>& stop_;
  std::string base_, bridge_topic_;
  std::vector<std::unique_ptr<Live>> modules_;

  mosquitto* mosq_ = nullptr;
  std::mutex mutex_;  // queue_, counters, connected_, commands_
  std::condition_variable wake_;    // stopping, commands, the queue drained at the end
  std::condition_variable queued_;  // the publisher's: a message is queued or it should look again
  bool draining_ = false;           // run() waits for the last acknowledgements
  std::size_t in_batch_ = 0;        // taken from the queue, not yet handed to libmosquitto
  std::deque<Message> queue_;
  std::deque<Command> commands_;
  std::uint64_t dropped_ = 0, published_ = 0, commands_done_ = 0;
  long unacknowledged_ = 0;
  bool connected_ = false;
  bool ever_connected_ = false;
  bool finish_ = false;  // the publisher stops: what is left is abandoned
  std::atomic<bool> fatal_{false};
  std::string fatal_text_;

  std::mutex names_mutex_;
  std::map<std::string, Live*> names_;
  std::mutex module_mutex_;  // each Live's state shared with the command thread
};

bool Bridge::identify(Live& m) {
  const Identity id = identity(m.described.address);
  if (id.code != 0) return false;
  json info = id.info;
  info["kind_configured"] = kind_info(m.described.kind).name;
  bool fresh = false;
  {
    std::lock_guard lock(module_mutex_);
    if (m.name.empty()) m.name = std::to_string(id.serial);
    fresh = m.info.is_null();
    m.info = info;
  }
  if (fresh) {
    std::lock_guard lock(names_mutex_);
    names_[m.name] = &m;
  }
  publish(topic(m, "info"), info, 1, true);
  if (fresh) subscribe(m);
  return true;
}

void Bridge::subscribe(Live& m) {
  if (o_.read_only) return;
  bool up;
  {
    std::lock_guard lock(mutex_);
    up = connected_;
  }
  // When not connected, the connect callback subscribes every named module.
  if (up) mosquitto_subscribe(mosq_, nullptr, topic(m, "set").c_str(), 1);
}

void Bridge::refresh_status(Live& m) {
  if (m.name.empty() && !identify(m)) return;
  if (!identify(m)) {
    publish(topic(m, "status"), {{"time", iso_now()}, {"status", code_word(VARNODE_TIMEOUT)}}, 1, true);
    return;
  }
  Status st = status(m.described.address);
  json payload = {{"time", iso_now()}, {"status", code_word(st.code)}};
  if (st.code == 0) payload.update(st.status);
  {
    std::lock_guard lock(module_mutex_);
    m.status = payload;
  }
  publish(topic(m, "status"), payload, 1, true);
}

void Bridge::set_availability(Live& m, std::uint8_t code) {
  const bool silent = code == VARNODE_TIMEOUT || code == VARNODE_NETWORK;
  Availability now = m.availability;
  if (!silent) {
    m.failures = 0;
    now = Availability::online;
  } else if (++m.failures >= m.described.offline_after) {
    now = Availability::offline;
  }
  if (now == m.availability || m.name.empty()) return;
  const bool back = m.availability == Availability::offline && now == Availability::online;
  {
    std::lock_guard lock(module_mutex_);
    m.availability = now;
  }
  publish_word(topic(m, "availability"), now == Availability::online ? "online" : "offline");
  if (o_.verbose) std::fprintf(stderr, "varnode-mqtt: %s is %s\n", m.name.c_str(), back ? "back" : now == Availability::online ? "online" : "offline");
  if (back) m.next_status = Clock::now();  // a module back may have been reset: fresh identity and status
}

void Bridge::poll(Live& m) {
  if (m.name.empty() && !identify(m)) {
    ++m.failures;
    return;
  }
  const Reading r = read(m.described);
  const std::string time = iso_now();
  const KindInfo& kind = kind_info(m.described.kind);
  const Poll& p = *m.described.poll;
  for (std::size_t i = 0; i < p.channels.size(); ++i) {
    const std::uint8_t c = p.channels[i];
    const auto unit = p.units.find(c);
    json payload = {{"time", time},
                    {"value", r.code == 0 ? r.values[i] : json(nullptr)},
                    {"unit", unit != p.units.end() ? unit->second : kind.unit},
                    {"status", code_word(r.code)}};
    if (m.described.kind == Kind::qu01) payload["reference"] = r.code == 0 ? r.reference : json(nullptr);
    publish(topic(m, std::string(kind.family) + "/" + std::to_string(c)), payload, d_.qos, false);
  }
  set_availability(m, r.code);
}

void Bridge::poller(std::vector<Live*> mine) {
  const auto start = Clock::now();
  // First polls spread over the interval: a rack polled all in the same
  // instant sends its readings as one burst that the broker and every
  // subscriber then queue behind, for most of the interval at a large site.
  const auto share = static_cast<double>(std::max<std::size_t>(mine.size(), 1));
  for (std::size_t k = 0; k < mine.size(); ++k) {
    Live* m = mine[k];
    if (m->described.timeout_ms) set_timeout(m->described.address, *m->described.timeout_ms);
    const double interval = m->described.poll ? m->described.poll->interval : 0;
    m->next_poll = start + seconds(interval * static_cast<double>(k) / share);
    m->next_status = start;
  }
  while (running()) {
    Clock::time_point next = Clock::time_point::max();
    for (Live* m : mine) next = std::min({next, m->next_poll, m->next_status});
    if (!sleep_until(next)) break;
    const auto now = Clock::now();
    for (Live* m : mine) {
      if (!running()) break;
      if (m->next_status <= now) {
        refresh_status(*m);
        m->next_status = now + seconds(m->described.status_interval);
      }
      if (m->next_poll <= now) {
        poll(*m);
        // On absolute deadlines; an interval missed entirely is skipped, not made up.
        const auto interval = seconds(m->described.poll ? m->described.poll->interval : m->described.status_interval);
        m->next_poll += interval;
        if (m->next_poll <= Clock::now()) m->next_poll = Clock::now() + interval;
        if (!m->described.poll) m->next_poll = Clock::time_point::max();
      }
    }
  }
}

void Bridge::streamer(Live& m) {
  if (m.described.timeout_ms) set_timeout(m.described.address, *m.described.timeout_ms);
  const Stream& s = *m.described.stream;
  const KindInfo& kind = kind_info(m.described.kind);
  std::vector<float> values;
  m.next_status = Clock::now();
  while (running()) {
    if (m.next_status <= Clock::now()) {
      refresh_status(m);
      m.next_status = Clock::now() + seconds(m.described.status_interval);
    }
    if (m.name.empty()) {
      set_availability(m, VARNODE_TIMEOUT);
      if (!sleep_until(Clock::now() + std::chrono::seconds(1))) break;
      continue;
    }
    const std::string time = iso_now();
    const std::uint8_t code = stream_block(m.described, values);
    if (!running()) break;
    json payload = {{"time", time},      {"index", m.stream_index}, {"frequency", s.frequency},
                    {"samples", s.samples}, {"unit", kind.unit},      {"status", code_word(code)}};
    json per = json::object();
    for (std::size_t i = 0; i < s.channels.size(); ++i) {
      json list = json::array();
      if (code == 0)
        for (std::uint32_t k = 0; k < s.samples; ++k) list.push_back(values[k * s.channels.size() + i]);
      per[std::to_string(s.channels[i])] = code == 0 ? list : json(nullptr);
    }
    payload["values"] = per;
    publish(topic(m, std::string(kind.family) + "/stream"), payload, d_.qos, false);
    if (code == 0) m.stream_index += s.samples;
    set_availability(m, code);
    // A refused or failed block is not retried at once: the module is told to stop and given a moment.
    if (code != 0) {
      (kind.kind == Kind::ra01 ? ra01_stop : re01_stop)(m.described.address);
      if (!sleep_until(Clock::now() + std::chrono::milliseconds(200))) break;
    }
  }
}

void Bridge::bridge_status() {
  json payload;
  std::size_t online = 0;
  {
    std::lock_guard lock(module_mutex_);
    for (const auto& m : modules_) online += m->availability == Availability::online ? 1 : 0;
  }
  {
    std::lock_guard lock(mutex_);
    payload = {{"time", iso_now()},     {"modules", modules_.size()}, {"online", online},
               {"queued", queue_.size()}, {"dropped", dropped_},        {"published", published_},
               {"commands", commands_done_}, {"read_only", o_.read_only}};
  }
  publish(bridge_topic_ + "status", payload, 1, true);
}

void Bridge::answer(Live* m, const Command& c, const std::string& id, const json& result) {
  const std::string text = result.dump();
  if (m != nullptr && !id.empty()) {
    std::lock_guard lock(module_mutex_);
    if (m->results.emplace(id, text).second) {
      m->seen_order.push_back(id);
      if (m->seen_order.size() > remembered_commands) {
        m->results.erase(m->seen_order.front());
        m->seen_order.pop_front();
      }
    }
  }
  const std::string where = !c.response_topic.empty() ? c.response_topic : base_ + c.module_name + "/result";
  enqueue({where, text, 1, false, c.correlation, c.has_correlation});
}

void Bridge::commander() {
  while (true) {
    Command c;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return !commands_.empty() || stop_ || fatal_; });
      if (commands_.empty()) return;
      c = std::move(commands_.front());
      commands_.pop_front();
    }
    Live* m = find(c.module_name);
    json request;
    json result = json::object();
    std::string id;
    bool parsed = true;
    try {
      request = json::parse(c.payload);
    } catch (const json::parse_error& e) {
      parsed = false;
      result = {{"code", VARNODE_PARAMETER}, {"result", code_word(VARNODE_PARAMETER)},
                {"error", std::string("the payload is not JSON: ") + e.what()}};
    }
    if (parsed && request.is_object() && request.contains("id")) {
      const json& j = request["id"];
      id = j.is_string() ? j.get<std::string>() : j.dump();
      result["id"] = j;
    } else if (c.has_correlation) {
      id = c.correlation;
    }
    if (parsed && request.is_object() && request.contains("command")) result["command"] = request["command"];
    if (m != nullptr && !id.empty()) {
      std::string earlier;
      {
        std::lock_guard lock(module_mutex_);
        auto it = m->results.find(id);
        if (it != m->results.end()) earlier = it->second;
      }
      if (!earlier.empty()) {
        // A redelivery: answered again, applied once.
        const std::string where = !c.response_topic.empty() ? c.response_topic : base_ + c.module_name + "/result";
        enqueue({where, earlier, 1, false, c.correlation, c.has_correlation});
        continue;
      }
    }
    if (parsed) {
      const Outcome out = m == nullptr ? Outcome{VARNODE_PARAMETER, "no such module on this bridge"}
                                       : run_command(m->described, request);
      result["code"] = out.code;
      result["result"] = code_word(out.code);
      if (!out.error.empty()) result["error"] = out.error;
    }
    result["time"] = iso_now();
    {
      std::lock_guard lock(mutex_);
      ++commands_done_;
    }
    if (o_.verbose) std::fprintf(stderr, "varnode-mqtt: %s/set: %s\n", c.module_name.c_str(), result.dump().c_str());
    answer(m, c, id, result);
  }
}

void Bridge::publisher() {
  std::deque<Message> batch;
  while (true) {
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return (connected_ && !queue_.empty()) || fatal_ || finish_; });
      if (fatal_ || finish_) return;
      // All that is queued, taken at once: one lock per batch, not per message.
      batch.swap(queue_);
      in_batch_ = batch.size();
      // Counted before they go, so an acknowledgement cannot come first.
      for (const Message& m : batch) unacknowledged_ += m.qos > 0 ? 1 : 0;
    }
    std::uint64_t sent = 0;
    while (!batch.empty()) {
      const Message& m = batch.front();
      mosquitto_property* props = nullptr;
      if (m.has_correlation)
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, m.correlation.data(),
                                      static_cast<std::uint16_t>(m.correlation.size()));
      const int rc = mosquitto_publish_v5(mosq_, nullptr, m.topic.c_str(), static_cast<int>(m.payload.size()),
                                          m.payload.data(), m.qos, m.retain, props);
      mosquitto_property_free_all(&props);
      if (rc == MOSQ_ERR_SUCCESS) {
        ++sent;
      } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
        break;
      } else {
        std::fprintf(stderr, "varnode-mqtt: could not publish on %s: %s\n", m.topic.c_str(), mosquitto_strerror(rc));
      }
      batch.pop_front();
    }
    std::lock_guard lock(mutex_);
    published_ += sent;
    in_batch_ = 0;
    if (!batch.empty()) {
      for (const Message& m : batch) unacknowledged_ -= m.qos > 0 ? 1 : 0;
      // The broker went away: what was not sent goes back to the front, ahead
      // of what was queued meanwhile, and the oldest go when that is too many.
      connected_ = false;
      for (auto& m : queue_) batch.push_back(std::move(m));
      queue_.swap(batch);
      batch.clear();
      while (queue_.size() > d_.queue) {
        queue_.pop_front();
        ++dropped_;
      }
    }
    if (draining_) wake_.notify_all();
  }
}

void Bridge::connected() {
  publish_word(bridge_topic_ + "availability", "online");
  std::vector<Live*> named;
  {
    std::lock_guard lock(names_mutex_);
    for (auto& [name, m] : names_) named.push_back(m);
  }
  for (Live* m : named) {
    json info, status;
    Availability a;
    {
      std::lock_guard lock(module_mutex_);
      info = m->info;
      status = m->status;
      a = m->availability;
    }
    // The broker may have lost its retained messages: say them again.
    if (!info.is_null()) publish(topic(*m, "info"), info, 1, true);
    if (!status.is_null()) publish(topic(*m, "status"), status, 1, true);
    if (a != Availability::unknown)
      publish_word(topic(*m, "availability"), a == Availability::online ? "online" : "offline");
    if (!o_.read_only) mosquitto_subscribe(mosq_, nullptr, topic(*m, "set").c_str(), 1);
  }
  bridge_status();
}

void Bridge::on_connect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
  auto* b = static_cast<Bridge*>(self);
  if (rc != 0) {
    const bool credentials = rc == 4 || rc == 5 || rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED;
    std::string text = std::string("the broker at ") + b->d_.broker.host + ":" + std::to_string(b->d_.broker.port) +
                       " refused the connection: " +
                       (b->d_.broker.v5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc));
    if (credentials) text += " (check broker.username and broker.password)";
    {
      std::lock_guard lock(b->mutex_);
      b->fatal_text_ = text;
      b->fatal_ = true;
    }
    b->notify_everyone();
    return;
  }
  if (b->o_.verbose) std::fprintf(stderr, "varnode-mqtt: connected to %s:%u\n", b->d_.broker.host.c_str(), b->d_.broker.port);
  b->connected();
  {
    std::lock_guard lock(b->mutex_);
    b->connected_ = true;
    b->ever_connected_ = true;
  }
  b->notify_everyone();
}

// A handshake that fails after the connect call returned reaches no other
// callback: the client library only logs it, and retries for ever.
void Bridge::on_log(mosquitto*, void* self, int level, const char* text) {
  auto* b = static_cast<Bridge*>(self);
  if (level != MOSQ_LOG_ERR || std::strncmp(text, "OpenSSL Error", 13) != 0) return;
  {
    std::lock_guard lock(b->mutex_);
    if (b->ever_connected_ || b->fatal_) return;
    const char* detail = std::strrchr(text, ':');
    b->fatal_text_ = tls_failure(b->d_.broker, detail != nullptr ? detail + 1 : text);
    b->fatal_ = true;
  }
  b->notify_everyone();
}

void Bridge::on_disconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
  auto* b = static_cast<Bridge*>(self);
  {
    std::lock_guard lock(b->mutex_);
    b->connected_ = false;
  }
  if (b->o_.verbose && rc != 0) std::fprintf(stderr, "varnode-mqtt: lost the broker; reconnecting\n");
}

void Bridge::on_publish(mosquitto*, void* self, int, int, const mosquitto_property*) {
  auto* b = static_cast<Bridge*>(self);
  std::lock_guard lock(b->mutex_);
  if (b->unacknowledged_ > 0) --b->unacknowledged_;
  if (b->draining_) b->wake_.notify_all();
}

void Bridge::on_message(mosquitto*, void* self, const mosquitto_message* msg, const mosquitto_property* props) {
  auto* b = static_cast<Bridge*>(self);
  const std::string t = msg->topic;
  if (t.size() <= b->base_.size() + 4 || t.compare(0, b->base_.size(), b->base_) != 0 ||
      t.compare(t.size() - 4, 4, "/set") != 0)
    return;
  Command c;
  c.module_name = t.substr(b->base_.size(), t.size() - b->base_.size() - 4);
  c.payload.assign(static_cast<const char*>(msg->payload), static_cast<std::size_t>(msg->payloadlen));
  char* response = nullptr;
  if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false) != nullptr && response) {
    c.response_topic = response;
    std::free(response);
  }
  void* data = nullptr;
  std::uint16_t length = 0;
  if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false) != nullptr) {
    c.correlation.assign(static_cast<const char*>(data), length);
    c.has_correlation = true;
    std::free(data);
  }
  {
    std::lock_guard lock(b->mutex_);
    b->commands_.push_back(std::move(c));
  }
  b->wake_.notify_all();
}

std::string read_password(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error(path + ": cannot be read");
  std::string line;
  std::getline(in, line);
  return line;
}

int Bridge::run() {
  const Broker& br = d_.broker;
  std::string password = br.password;
  if (!br.password_file.empty()) {
    try {
      password = read_password(br.password_file);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "varnode-mqtt: broker.password_file: %s\n", e.what());
      return 1;
    }
  }
  // The client library says only "invalid arguments" for a file it cannot
  // open; say which one.
  if (br.tls) {
    for (const auto& [key, file] : {std::pair{"ca_file", &br.tls->ca_file}, std::pair{"cert_file", &br.tls->cert_file},
                                    std::pair{"key_file", &br.tls->key_file}}) {
      if (!file->empty() && !std::ifstream(*file)) {
        std::fprintf(stderr, "varnode-mqtt: broker.tls.%s: %s cannot be read\n", key, file->c_str());
        return 1;
      }
    }
  }
  // A lasting session: commands sent while the bridge is away wait at the broker.
  mosq_ = mosquitto_new(br.client_id.c_str(), false, this);
  if (mosq_ == nullptr) {
    std::fprintf(stderr, "varnode-mqtt: out of memory\n");
    return 1;
  }
  if (br.v5) mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_v5_callback_set(mosq_, on_connect);
  mosquitto_disconnect_v5_callback_set(mosq_, on_disconnect);
  mosquitto_publish_v5_callback_set(mosq_, on_publish);
  mosquitto_message_v5_callback_set(mosq_, on_message);
  mosquitto_log_callback_set(mosq_, on_log);
  mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
  mosquitto_max_inflight_messages_set(mosq_, 1000);
  // Readings go out as they are taken, not held for a fuller segment.
  mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
  if (!br.username.empty() && mosquitto_username_pw_set(mosq_, br.username.c_str(), password.empty() ? nullptr : password.c_str()) != MOSQ_ERR_SUCCESS) {
    std::fprintf(stderr, "varnode-mqtt: broker.username: not accepted by the client library\n");
    return 1;
  }
  if (br.tls) {
    const int rc = mosquitto_tls_set(mosq_, br.tls->ca_file.c_str(), nullptr,
                                     br.tls->cert_file.empty() ? nullptr : br.tls->cert_file.c_str(),
                                     br.tls->key_file.empty() ? nullptr : br.tls->key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      std::fprintf(stderr, "varnode-mqtt: broker.tls: %s\n", mosquitto_strerror(rc));
      return 1;
    }
    mosquitto_tls_insecure_set(mosq_, br.tls->insecure);
  }
  const std::string will = bridge_topic_ + "availability";
  mosquitto_will_set_v5(mosq_, will.c_str(), 7, "offline", 1, true, nullptr);

  mosquitto_property* connect_props = nullptr;
  if (br.v5) mosquitto_property_add_int32(&connect_props, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 7 * 86400);
  const int rc = mosquitto_connect_bind_v5(mosq_, br.host.c_str(), br.port, static_cast<int>(br.keepalive), nullptr,
                                           connect_props);
  mosquitto_property_free_all(&connect_props);
  if (rc == MOSQ_ERR_TLS) {
    std::lock_guard lock(mutex_);
    if (!fatal_) fatal_text_ = tls_failure(br, "");
    fatal_ = true;
  } else if (rc != MOSQ_ERR_SUCCESS) {
    std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
    if (!why.empty() && why.back() == '.') why.pop_back();
    std::fprintf(stderr, "varnode-mqtt: broker %s:%u: %s; retrying\n", br.host.c_str(), br.port, why.c_str());
  }
  mosquitto_loop_start(mosq_);

  std::vector<std::thread> threads;
  threads.emplace_back([this] { publisher(); });
  threads.emplace_back([this] { commander(); });
  std::vector<std::vector<Live*>> shares(std::min<std::size_t>(d_.workers, std::max<std::size_t>(modules_.size(), 1)));
  std::size_t next_share = 0;
  for (auto& m : modules_) {
    if (m->described.stream) {
      Live* live = m.get();
      threads.emplace_back([this, live] { streamer(*live); });
    } else {
      shares[next_share++ % shares.size()].push_back(m.get());
    }
  }
  for (auto& share : shares)
    if (!share.empty()) threads.emplace_back([this, share] { poller(share); });

  // The bridge's own status, until told to stop.
  // The bridge's own status, until told to stop (the flag is set by a signal
  // handler, which cannot notify: it is looked at every 100 ms).
  auto next_status = Clock::now();
  while (running()) {
    if (Clock::now() >= next_status) {
      bridge_status();
      next_status = Clock::now() + seconds(d_.status_interval);
    }
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(100), [&] { return fatal_.load(); });
  }
  notify_everyone();
  for (auto& m : modules_)
    if (m->described.stream) (m->described.kind == Kind::ra01 ? ra01_stop : re01_stop)(m->described.address);
  // Workers end after their current call; the publisher last, once it has sent what is left.
  std::thread publisher_thread = std::move(threads.front());
  for (std::size_t i = 1; i < threads.size(); ++i) threads[i].join();
  if (!fatal_) {
    for (auto& m : modules_)
      if (!m->name.empty()) publish_word(topic(*m, "availability"), "offline");
    bridge_status();
    publish_word(will, "offline");
  }
  {
    // What is left goes out if the broker is there; a few seconds at most.
    std::unique_lock lock(mutex_);
    draining_ = true;
    queued_.notify_all();
    wake_.wait_for(lock, std::chrono::seconds(5),
                   [&] { return fatal_ || (queue_.empty() && in_batch_ == 0 && unacknowledged_ <= 0); });
    finish_ = true;
  }
  notify_everyone();
  publisher_thread.join();
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, true);
  mosquitto_destroy(mosq_);
  std::lock_guard lock(mutex_);
  if (!fatal_text_.empty()) {
    std::fprintf(stderr, "varnode-mqtt: %s\n", fatal_text_.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int run_bridge(const Description& description, const Options& options, const std::atomic<bool>& stop) {
  Bridge bridge(description, options, stop);
  return bridge.run();
}

}  // namespace mqtt_bridge
