-- Wireshark dissector for DCP, the request/response protocol of the varnode
-- I/O modules on UDP port 30000.
--
-- Load it for one run:   tshark -X lua_script:dcp.lua -r capture.pcap -Y dcp
-- or install it:         copy to ~/.local/lib/wireshark/plugins/ (or the
--                        system plugin folder) and restart Wireshark.
--
-- Every datagram is an 8-byte big-endian header (code, payload length,
-- transaction id) and a payload. Requests go to port 30000, replies come
-- from it. A reply is matched to its request by the client's address and
-- port and the transaction id; one request may have many replies (the
-- identity broadcast, streamed measurements).
--
-- Nothing here may raise a Lua error on hostile bytes: every read is checked
-- against the bytes that are there, and what does not fit is reported as
-- expert information.

local dcp = Proto("dcp", "DCP I/O module protocol")

local PORT = 30000

local families = {
  [0x00] = "device", [0x01] = "KS01", [0x02] = "HX02", [0x03] = "KL01", [0x04] = "RA01",
  [0x06] = "HX01", [0x07] = "QU01", [0x08] = "WE01", [0x09] = "RE01", [0x0A] = "KS02", [0x0B] = "KL02",
}

-- Operation names by family kind and low byte, for requests and replies.
local digital_io = {
  request = { [0x00] = "set direction", [0x01] = "read", [0x02] = "write" },
  reply = { [0x03] = "refused (configuration)", [0x04] = "levels" },
}
local digital_output = {
  request = { [0x00] = "write", [0x01] = "measure" },
  reply = { [0x02] = "values" },
}
local counter = {
  request = { [0x00] = "disable", [0x01] = "enable", [0x02] = "read", [0x04] = "clear", [0x05] = "set mode" },
  reply = { [0x03] = "counts" },
}
local analog_input = {
  request = { [0x00] = "measure", [0x04] = "stop", [0x08] = "set frequency" },
  reply = { [0x01] = "chunk", [0x02] = "refused (reserved)", [0x03] = "refused (configuration)", [0x05] = "aborted" },
}
local analog_output = { request = { [0x00] = "control" }, reply = {} }
local temperature = {
  request = { [0x00] = "measure", [0x08] = "set frequency", [0x09] = "set sensor" },
  reply = { [0x01] = "readings", [0x02] = "refused (configuration)" },
}
local kinds = {
  [0x01] = digital_output, [0x0A] = digital_output, [0x02] = temperature, [0x06] = temperature,
  [0x03] = digital_io, [0x0B] = digital_io, [0x04] = analog_input, [0x09] = analog_input,
  [0x07] = counter, [0x08] = analog_output,
}
local management = {
  request = { [3] = "reset", [5] = "identity", [7] = "status", [9] = "configure", [10] = "burn" },
  reply = { [1] = "acknowledged", [2] = "failed", [6] = "identity", [8] = "status" },
}

local refusals = {
  ["refused (configuration)"] = "configuration",
  ["refused (reserved)"] = "reserved",
  ["aborted"] = "aborted",
}

local hx01_sensors = {
  [0] = "none", [1] = "voltage", [2] = "type B", [3] = "type C", [4] = "type D", [5] = "type E",
  [6] = "type G", [7] = "type J", [8] = "type K", [9] = "type M", [10] = "type N", [11] = "type P",
  [12] = "type R", [13] = "type S", [14] = "type T",
}
local hx02_sensors = {
  [0] = "none", [1] = "voltage", [2] = "platinum", [3] = "diode curve 1", [4] = "diode curve 2",
  [5] = "PTC 1000 ohm at 25 C", [6] = "PTC 2000 ohm at 25 C", [7] = "PTC 1000 ohm at 25 C (table 5)",
  [8] = "PTC 2000 ohm at 25 C (table 6)", [9] = "PTC 1000 ohm at 25 C to 180 C", [10] = "PTC 1000 ohm at 100 C",
}

-- Identity tags: extended numbering, and the legacy numbering that a
-- payload whose highest tag is exactly 21 uses.
local identity_extended = {
  [1] = "text_1", [2] = "text_2", [3] = "text_3", [4] = "serial_number", [5] = "text_5", [6] = "text_6",
  [7] = "text_7", [8] = "number_8", [9] = "number_9", [10] = "text_10", [11] = "date_11", [12] = "date_12",
  [13] = "date_13", [14] = "number_14", [15] = "number_15", [16] = "number_16", [17] = "mac_address",
  [18] = "ip_address", [19] = "address_19", [20] = "address_20", [21] = "text_21", [22] = "text_22",
  [23] = "flag_23", [24] = "text_24", [25] = "text_25",
}
-- The legacy numbering has no number_16, flag_23, text_24 or text_25, and
-- numbers mac_address to text_22 one lower.
local identity_legacy = {}
for tag = 1, 15 do identity_legacy[tag] = identity_extended[tag] end
for tag = 17, 22 do identity_legacy[tag - 1] = identity_extended[tag] end

local f = {
  code = ProtoField.uint16("dcp.code", "Code", base.HEX),
  command = ProtoField.string("dcp.command", "Command"),
  family = ProtoField.string("dcp.family", "Family"),
  direction = ProtoField.string("dcp.direction", "Direction"),
  length = ProtoField.uint16("dcp.length", "Payload length", base.DEC),
  tid = ProtoField.uint32("dcp.tid", "Transaction id", base.HEX),
  reply_in = ProtoField.framenum("dcp.reply_in", "Reply in", base.NONE, frametype.RESPONSE),
  request_in = ProtoField.framenum("dcp.request_in", "Request in", base.NONE, frametype.REQUEST),
  time = ProtoField.relative_time("dcp.time", "Response time"),
  payload = ProtoField.bytes("dcp.payload", "Payload"),
  refusal = ProtoField.string("dcp.refusal", "Refusal"),

  element = ProtoField.bytes("dcp.element", "Element"),
  tag = ProtoField.uint8("dcp.tag", "Tag"),
  element_length = ProtoField.uint8("dcp.element_length", "Length"),
  layout = ProtoField.string("dcp.identity.layout", "Tag layout"),
  field = ProtoField.string("dcp.identity.field", "Field"),
  text = ProtoField.string("dcp.text", "Text"),
  serial = ProtoField.uint32("dcp.serial", "Serial number"),
  number = ProtoField.uint32("dcp.number", "Number"),
  date = ProtoField.uint32("dcp.date", "Date (days since 0000-01-01)"),
  mac = ProtoField.ether("dcp.mac", "MAC address"),
  address = ProtoField.ipv4("dcp.address", "Address"),
  ip = ProtoField.ipv4("dcp.ip", "Module address"),
  flag = ProtoField.uint8("dcp.flag", "Flag"),

  status_name = ProtoField.string("dcp.status.name", "Item"),
  status_text = ProtoField.string("dcp.status.text", "Text"),
  status_number = ProtoField.float("dcp.status.number", "Number"),
  status_lower = ProtoField.float("dcp.status.lower", "Lower limit"),
  status_upper = ProtoField.float("dcp.status.upper", "Upper limit"),
  status_value = ProtoField.float("dcp.status.value", "Value"),

  config_flag = ProtoField.uint8("dcp.configure.flag", "Flag"),
  config_first = ProtoField.ipv4("dcp.configure.first", "First address"),
  config_second = ProtoField.ipv4("dcp.configure.second", "Second address"),
  config_third = ProtoField.ipv4("dcp.configure.third", "Third address"),
  config_text = ProtoField.string("dcp.configure.text", "Text"),
  data = ProtoField.bytes("dcp.data", "Data"),

  mask = ProtoField.uint8("dcp.mask", "Channel mask", base.HEX),
  channel = ProtoField.uint8("dcp.channel", "Channel"),
  bits = ProtoField.uint8("dcp.bits", "Flags (directions, levels, states)", base.HEX),
  level = ProtoField.bool("dcp.level", "Set"),
  value = ProtoField.float("dcp.value", "Value"),
  volts = ProtoField.float("dcp.volts", "Output (V)"),
  reference = ProtoField.int64("dcp.counter.reference", "Reference"),
  count = ProtoField.int64("dcp.counter.count", "Count"),
  mode = ProtoField.uint8("dcp.counter.mode", "Mode"),

  frequency = ProtoField.uint16("dcp.frequency", "Frequency setting", base.DEC),
  samples = ProtoField.uint32("dcp.samples", "Samples"),
  rate = ProtoField.float("dcp.rate", "Measurement frequency (Hz)"),
  offset = ProtoField.uint32("dcp.chunk.offset", "Offset"),
  chunk_length = ProtoField.uint32("dcp.chunk.length", "Data length"),
  sample = ProtoField.float("dcp.chunk.sample", "Sample"),

  hx01_sensor = ProtoField.uint8("dcp.hx01.sensor", "Sensor", base.DEC, hx01_sensors),
  cold_junction = ProtoField.float("dcp.hx01.cold_junction", "Cold-junction reading (V)"),
  voltage = ProtoField.float("dcp.hx01.voltage", "Voltage (V)"),
  hx02_sensor = ProtoField.uint8("dcp.hx02.sensor", "Sensor", base.DEC, hx02_sensors),
  hx02_range = ProtoField.float("dcp.hx02.range", "Range (V)"),
  hx02_current = ProtoField.float("dcp.hx02.current", "Current (A)"),
  hx02_nominal = ProtoField.float("dcp.hx02.nominal", "Nominal resistance (ohm)"),
  hx02_reading = ProtoField.float("dcp.hx02.reading", "Reading"),
}
local field_list = {}
for _, field in pairs(f) do field_list[#field_list + 1] = field end
dcp.fields = field_list

local e = {
  malformed = ProtoExpert.new("dcp.malformed", "Malformed DCP datagram", expert.group.MALFORMED, expert.severity.WARN),
  unknown = ProtoExpert.new("dcp.unknown", "Unknown DCP code", expert.group.UNDECODED, expert.severity.NOTE),
  refused = ProtoExpert.new("dcp.refused", "Module refused the request", expert.group.RESPONSE_CODE, expert.severity.NOTE),
  unmatched = ProtoExpert.new("dcp.unmatched", "Reply without a request in this capture", expert.group.SEQUENCE,
    expert.severity.CHAT),
  fault = ProtoExpert.new("dcp.fault", "Dissector fault", expert.group.MALFORMED, expert.severity.ERROR),
}
dcp.experts = { e.malformed, e.unknown, e.refused, e.unmatched, e.fault }

-- Request/reply bookkeeping, rebuilt on every new read of the capture.
local transactions, frames = {}, {}

function dcp.init()
  transactions = {}
  frames = {}
end

-- Short notes for the Info column, gathered while one datagram is decoded.
local notes = {}
local function note(text) notes[#notes + 1] = text end

local function bit(mask, n) return bit32.band(mask, bit32.lshift(1, n - 1)) ~= 0 end

local function channels_of(mask)
  local list = {}
  for n = 1, 8 do
    if bit(mask, n) then list[#list + 1] = n end
  end
  return list
end

local function channel_text(mask)
  local list = channels_of(mask)
  if #list == 0 then return "none" end
  return table.concat(list, ",")
end

local function name_of(code, request)
  local high, low = bit32.rshift(code, 8), bit32.band(code, 0xFF)
  if high == 0 then
    local names = request and management.request or management.reply
    return names[code], "device"
  end
  local kind = kinds[high]
  if kind == nil then return nil, nil end
  local names = request and kind.request or kind.reply
  local op = names[low]
  if op == nil then return nil, families[high] end
  return families[high] .. " " .. op, families[high]
end

-- A payload length the command fixes; anything else is malformed.
local function expect(tree, payload, size, what)
  if payload:len() ~= size then
    tree:add_proto_expert_info(e.malformed,
      string.format("%s: payload of %d bytes, expected %d", what, payload:len(), size))
    return false
  end
  return true
end

local function at_least(tree, payload, size, what)
  if payload:len() < size then
    tree:add_proto_expert_info(e.malformed,
      string.format("%s: payload of %d bytes, expected at least %d", what, payload:len(), size))
    return false
  end
  return true
end

local function add_mask(tree, range)
  local mask = range:uint()
  local item = tree:add(f.mask, range)
  item:append_text(" (channels " .. channel_text(mask) .. ")")
  note("channels " .. channel_text(mask))
  return mask
end

local function add_bits(tree, range, mask)
  local bits = range:uint()
  local item = tree:add(f.bits, range)
  for _, n in ipairs(channels_of(mask or 0xFF)) do
    item:add(f.level, range, bit(bits, n)):prepend_text("Channel " .. n .. ": ")
  end
end

-- Elements: tag, length, value. Returns a list of {tag, range} or nil with
-- the offset where an element runs past the end.
local function elements(payload)
  local list, at = {}, 0
  while at < payload:len() do
    if payload:len() - at < 2 then return nil, at end
    local length = payload(at + 1, 1):uint()
    if payload:len() - at - 2 < length then return nil, at end
    local value = length > 0 and payload(at + 2, length) or nil
    list[#list + 1] = { tag = payload(at, 1):uint(), length = length, element = payload(at, 2 + length),
                        value = value }
    at = at + 2 + length
  end
  return list
end

local function add_element_header(tree, el)
  local item = tree:add(f.element, el.element)
  item:add(f.tag, el.element(0, 1))
  item:add(f.element_length, el.element(1, 1))
  return item
end

-- A day count since 0000-01-01 (proleptic Gregorian, with a year 0) as a
-- calendar date.
local function calendar(days)
  local z = days - 60  -- from 0000-03-01, so that leap days end a year
  local era = math.floor(z / 146097)
  local doe = z - era * 146097
  local yoe = math.floor((doe - math.floor(doe / 1460) + math.floor(doe / 36524) - math.floor(doe / 146096)) / 365)
  local doy = doe - (365 * yoe + math.floor(yoe / 4) - math.floor(yoe / 100))
  local mp = math.floor((5 * doy + 2) / 153)
  local day = doy - math.floor((153 * mp + 2) / 5) + 1
  local month = mp < 10 and mp + 3 or mp - 9
  local year = yoe + era * 400 + (month <= 2 and 1 or 0)
  return string.format("%04d-%02d-%02d", year, month, day)
end

local function text_of(range)
  if range == nil then return "" end
  return range:string()
end

-- Identity values of a fixed size, by the kind their name starts with.
local sized = { serial = 4, number = 4, date = 4, ip = 4, address = 4, mac = 6 }

local function identity(tree, payload)
  local list, bad = elements(payload)
  if list == nil then
    tree:add_proto_expert_info(e.malformed, "identity: element at offset " .. bad .. " runs past the end")
    return
  end
  local highest = -1
  for _, el in ipairs(list) do
    if el.tag > highest then highest = el.tag end
  end
  local legacy = highest == 21
  local names = legacy and identity_legacy or identity_extended
  tree:add(f.layout, legacy and "legacy" or "extended")
  local serial
  for _, el in ipairs(list) do
    local name = names[el.tag]
    local item = add_element_header(tree, el)
    item:set_text(string.format("Tag %d: %s", el.tag, name or "(skipped)"))
    if name ~= nil then
      item:add(f.field, name)
      local v = el.value
      local kind = name:match("^(%a+)_")
      if sized[kind] ~= nil and el.length ~= sized[kind] then
        item:add_proto_expert_info(e.malformed,
          string.format("%s: %d bytes, expected %d", name, el.length, sized[kind]))
      elseif kind == "text" then
        item:add(f.text, v or el.element, text_of(v))
        item:append_text(" = \"" .. text_of(v) .. "\"")
      elseif kind == "serial" then
        item:add(f.serial, v)
        serial = v:uint()
        item:append_text(" = " .. serial)
      elseif kind == "number" then
        item:add(f.number, v)
        item:append_text(" = " .. v:uint())
      elseif kind == "date" then
        item:add(f.date, v):append_text(" (" .. calendar(v:uint()) .. ")")
        item:append_text(" = " .. calendar(v:uint()))
      elseif kind == "mac" then
        item:add(f.mac, v)
      elseif kind == "ip" then
        item:add(f.ip, v)
        item:append_text(" = " .. tostring(v:ipv4()))
      elseif kind == "address" then
        item:add(f.address, v)
      elseif kind == "flag" then
        if v ~= nil then item:add(f.flag, v(0, 1)) end
      end
    end
  end
  if serial == nil or serial == 0 then
    tree:add_proto_expert_info(e.malformed, "identity without a serial number")
  end
  return serial
end

-- Status elements holding a 4-byte number, by tag.
local status_numbers = { [4] = f.status_number, [5] = f.status_lower, [6] = f.status_upper, [7] = f.status_value }

local function status(tree, payload)
  local list, bad = elements(payload)
  if list == nil then
    tree:add_proto_expert_info(e.malformed, "status: element at offset " .. bad .. " runs past the end")
    return
  end
  local group = tree
  for i, el in ipairs(list) do
    if el.tag == 1 then
      group = tree:add(f.status_name, el.element, text_of(el.value))
      if el.length == 0 then group:add_proto_expert_info(e.malformed, "status item with an empty name") end
    elseif i == 1 then
      tree:add_proto_expert_info(e.malformed, "status reply does not start with an item name")
    end
    if el.tag == 2 or el.tag == 3 then
      group:add(f.status_text, el.element, text_of(el.value)):prepend_text("text_" .. el.tag .. " ")
    elseif status_numbers[el.tag] ~= nil then
      if el.length == 4 then
        group:add(status_numbers[el.tag], el.value)
      else
        group:add_proto_expert_info(e.malformed, string.format("tag %d: %d bytes, expected 4", el.tag, el.length))
      end
    elseif el.tag ~= 1 then
      add_element_header(group, el):set_text(string.format("Tag %d (skipped)", el.tag))
    end
  end
end

-- Configuration elements by tag, and the sizes of those that are not text.
local config_fields = { [1] = f.config_flag, [2] = f.config_first, [3] = f.config_second, [4] = f.config_third,
                        [5] = f.config_text }
local config_sizes = { [1] = 1, [2] = 4, [3] = 4, [4] = 4 }

local function configure(tree, payload)
  if not at_least(tree, payload, 27, "configure") then return end
  tree:add(f.serial, payload(0, 4))
  local list, bad = elements(payload(4))
  if list == nil then
    tree:add_proto_expert_info(e.malformed, "configure: element at offset " .. (bad + 4) .. " runs past the end")
    return
  end
  for _, el in ipairs(list) do
    local field = config_fields[el.tag]
    if field == nil then
      tree:add_proto_expert_info(e.malformed, "configure: unexpected tag " .. el.tag)
    elseif config_sizes[el.tag] ~= nil and el.length ~= config_sizes[el.tag] then
      tree:add_proto_expert_info(e.malformed, string.format("configure: tag %d of %d bytes", el.tag, el.length))
    elseif el.tag == 5 then
      tree:add(field, el.element, text_of(el.value))
    else
      tree:add(field, el.value)
    end
  end
end

-- Requests: the request's own bytes; returns what a reply needs to know.
local function request_payload(tree, code, payload)
  local high, low = bit32.rshift(code, 8), bit32.band(code, 0xFF)
  local size = payload:len()
  if high == 0 then
    if code == 3 or code == 5 or code == 7 then expect(tree, payload, 0, "request")
    elseif code == 9 then configure(tree, payload)
    elseif code == 10 then
      if size > 0 then tree:add(f.data, payload) end
      if size > 64 then tree:add_proto_expert_info(e.malformed, "burn: more than 64 bytes") end
    end
    return {}
  end
  local kind = kinds[high]
  if kind == digital_io then
    if low == 0x01 then
      if expect(tree, payload, 1, "read") then return { mask = add_mask(tree, payload(0, 1)) } end
    elseif low == 0x00 or low == 0x02 then
      if expect(tree, payload, 2, "request") then
        local mask = add_mask(tree, payload(0, 1))
        add_bits(tree, payload(1, 1), mask)
        return { mask = mask }
      end
    end
  elseif kind == digital_output then
    if low == 0x00 and expect(tree, payload, 2, "write") then
      local mask = add_mask(tree, payload(0, 1))
      add_bits(tree, payload(1, 1), mask)
    elseif low == 0x01 and expect(tree, payload, 1, "measure") then
      return { mask = add_mask(tree, payload(0, 1)) }
    end
  elseif kind == counter then
    if low == 0x05 then
      if at_least(tree, payload, 1, "set mode") then
        local mask = add_mask(tree, payload(0, 1))
        local list = channels_of(mask)
        if expect(tree, payload, 1 + #list, "set mode") then
          for i, n in ipairs(list) do tree:add(f.mode, payload(i, 1)):prepend_text("Channel " .. n .. " ") end
        end
      end
    elseif expect(tree, payload, 1, "request") then
      return { mask = add_mask(tree, payload(0, 1)) }
    end
  elseif kind == analog_input then
    if low == 0x00 and expect(tree, payload, 9, "measure") then
      local mask = add_mask(tree, payload(0, 1))
      tree:add(f.samples, payload(1, 4))
      tree:add(f.rate, payload(5, 4))
      return { mask = mask, samples = payload(1, 4):uint() }
    elseif low == 0x08 and expect(tree, payload, 2, "set frequency") then
      tree:add(f.frequency, payload(0, 2))
    elseif low == 0x04 then
      expect(tree, payload, 0, "stop")
    end
  elseif kind == analog_output then
    if at_least(tree, payload, 1, "control") then
      local mask = add_mask(tree, payload(0, 1))
      local list = channels_of(mask)
      if expect(tree, payload, 1 + 4 * #list, "control") then
        for i, n in ipairs(list) do
          tree:add(f.volts, payload(1 + 4 * (i - 1), 4)):prepend_text("Channel " .. n .. " ")
        end
      end
    end
  elseif kind == temperature then
    local hx02 = high == 0x02
    if low == 0x00 and expect(tree, payload, 1, "measure") then
      return { mask = add_mask(tree, payload(0, 1)) }
    elseif low == 0x08 and expect(tree, payload, 2, "set frequency") then
      tree:add(f.frequency, payload(0, 2))
    elseif low == 0x09 and at_least(tree, payload, 1, "set sensor") then
      local mask = add_mask(tree, payload(0, 1))
      local list = channels_of(mask)
      local each = hx02 and 13 or 1
      if expect(tree, payload, 1 + each * #list, "set sensor") then
        for i, n in ipairs(list) do
          local at = 1 + each * (i - 1)
          if hx02 then
            local item = tree:add(f.channel, payload(at, 13), n)
            item:add(f.hx02_sensor, payload(at, 1))
            item:add(f.hx02_range, payload(at + 1, 4))
            item:add(f.hx02_current, payload(at + 5, 4))
            item:add(f.hx02_nominal, payload(at + 9, 4))
          else
            tree:add(f.hx01_sensor, payload(at, 1)):prepend_text("Channel " .. n .. " ")
            note(n .. "=" .. (hx01_sensors[payload(at, 1):uint()] or payload(at, 1):uint()))
          end
        end
      end
    end
  end
  return {}
end

local function reply_payload(tree, code, payload, request)
  local high, low = bit32.rshift(code, 8), bit32.band(code, 0xFF)
  local mask = request and request.mask
  if code == 1 then
    expect(tree, payload, 0, "acknowledgement")
    return
  end
  if high == 0 then
    if code == 6 then
      local serial = identity(tree, payload)
      if serial ~= nil then
        tree:append_text(", serial " .. serial)
        note("serial " .. serial)
      end
    elseif code == 8 then status(tree, payload) end
    return
  end
  local kind = kinds[high]
  local name = kind and kind.reply[low]
  if name ~= nil and refusals[name] ~= nil then
    tree:add(f.refusal, refusals[name])
    tree:add_proto_expert_info(e.refused, "refused: " .. refusals[name])
    if payload:len() > 0 then tree:add_proto_expert_info(e.malformed, "refusal with a payload") end
    return
  end
  if kind == digital_io and low == 0x04 then
    if expect(tree, payload, 1, "levels") then add_bits(tree, payload(0, 1), mask) end
  elseif kind == digital_output and low == 0x02 then
    if payload:len() % 4 ~= 0 then
      tree:add_proto_expert_info(e.malformed, "values: payload not a whole number of floats")
      return
    end
    local list = mask and channels_of(mask)
    if list ~= nil and payload:len() ~= 4 * #list then
      tree:add_proto_expert_info(e.malformed, "values: one float per requested channel expected")
      list = nil
    end
    for i = 0, payload:len() / 4 - 1 do
      local item = tree:add(f.value, payload(4 * i, 4))
      if list ~= nil then item:prepend_text("Channel " .. list[i + 1] .. " ") end
    end
  elseif kind == counter and low == 0x03 then
    if payload:len() < 8 or payload:len() % 8 ~= 0 then
      tree:add_proto_expert_info(e.malformed, "counts: payload not a reference plus whole counts")
      return
    end
    tree:add(f.reference, payload(0, 8))
    local list = mask and channels_of(mask)
    if list ~= nil and payload:len() ~= 8 + 8 * #list then
      tree:add_proto_expert_info(e.malformed, "counts: one count per requested channel expected")
      list = nil
    end
    for i = 1, payload:len() / 8 - 1 do
      local item = tree:add(f.count, payload(8 * i, 8))
      if list ~= nil then item:prepend_text("Channel " .. list[i] .. " ") end
    end
  elseif kind == analog_input and low == 0x01 then
    if not at_least(tree, payload, 4, "chunk") then return end
    local offset = payload(0, 4):uint()
    tree:add(f.offset, payload(0, 4))
    local length = payload:len() - 4
    tree:add(f.chunk_length, length)
    tree:append_text(string.format(", offset %d, %d bytes", offset, length))
    note(string.format("offset %d, %d bytes", offset, length))
    if offset % 4 ~= 0 or length % 4 ~= 0 then
      tree:add_proto_expert_info(e.malformed, "chunk not aligned to whole samples")
      return
    end
    if request and request.samples and request.mask then
      local per = #channels_of(request.mask)
      if per > 0 and offset + length > 4 * per * request.samples then
        tree:add_proto_expert_info(e.malformed, "chunk runs past the measurement")
      end
    end
    local list = mask and channels_of(mask)
    -- Samples are listed up to a limit: a full chunk holds 350.
    for i = 0, math.min(length / 4, 512) - 1 do
      local item = tree:add(f.sample, payload(4 + 4 * i, 4))
      if list ~= nil and #list > 0 then
        local index = offset / 4 + i
        item:prepend_text(string.format("Sample %d channel %d: ", math.floor(index / #list), list[index % #list + 1]))
      end
    end
  elseif kind == temperature and low == 0x01 then
    local hx02 = high == 0x02
    local each = hx02 and 17 or 5
    local head = hx02 and 0 or 4
    if not at_least(tree, payload, head, "readings") then return end
    if (payload:len() - head) % each ~= 0 then
      tree:add_proto_expert_info(e.malformed,
        string.format("readings: %d bytes is not %s%d per channel", payload:len(), hx02 and "" or "4 + ", each))
      return
    end
    local list = mask and channels_of(mask)
    local n = (payload:len() - head) / each
    if list ~= nil and #list ~= n then
      tree:add_proto_expert_info(e.malformed, "readings: one reading per requested channel expected")
      list = nil
    end
    if not hx02 then tree:add(f.cold_junction, payload(0, 4)) end
    for i = 1, n do
      local at = head + each * (i - 1)
      local item = tree:add(f.channel, payload(at, each), list and list[i] or 0)
      if hx02 then
        item:add(f.hx02_sensor, payload(at, 1))
        item:add(f.hx02_range, payload(at + 1, 4))
        item:add(f.hx02_current, payload(at + 5, 4))
        item:add(f.hx02_nominal, payload(at + 9, 4))
        item:add(f.hx02_reading, payload(at + 13, 4))
      else
        item:add(f.hx01_sensor, payload(at, 1))
        item:add(f.voltage, payload(at + 1, 4))
      end
    end
  end
end

local function dissect(tvb, pinfo, root)
  pinfo.cols.protocol = "DCP"
  local size = tvb:len()
  local tree = root:add(dcp, tvb())
  if size < 8 then
    tree:add_proto_expert_info(e.malformed, string.format("%d bytes: shorter than the 8-byte header", size))
    pinfo.cols.info = string.format("Malformed (%d bytes)", size)
    return
  end
  -- Between two sockets on the port, the datagram counts as a request.
  local request = pinfo.dst_port == PORT
  local code = tvb(0, 2):uint()
  local length = tvb(2, 2):uint()
  local tid = tvb(4, 4):uint()
  local name, family = name_of(code, request)
  tree:add(f.code, tvb(0, 2))
  tree:add(f.direction, request and "request" or "reply")
  tree:add(f.command, name or string.format("unknown 0x%04X", code))
  if family ~= nil then tree:add(f.family, family) end
  tree:add(f.length, tvb(2, 2))
  tree:add(f.tid, tvb(4, 4))
  if name == nil then tree:add_proto_expert_info(e.unknown, string.format("unknown code 0x%04X", code)) end
  pinfo.cols.info = string.format("%s %s, id 0x%08X", request and "Request" or "Reply",
    name or string.format("0x%04X", code), tid)
  tree:append_text(string.format(", %s, id 0x%08X", name or string.format("0x%04X", code), tid))

  -- Match by the client's endpoint and the id.
  local client = request and (tostring(pinfo.src) .. ":" .. pinfo.src_port)
                         or (tostring(pinfo.dst) .. ":" .. pinfo.dst_port)
  local key = client .. "/" .. tid
  local entry = frames[pinfo.number]
  if entry == nil then
    if request then
      entry = { request = pinfo.number, time = pinfo.abs_ts, code = code }
      transactions[key] = entry
    else
      entry = transactions[key]
      if entry ~= nil and entry.reply == nil then entry.reply = pinfo.number end
    end
    frames[pinfo.number] = entry or false
  end
  if entry then
    if request and entry.reply then
      tree:add(f.reply_in, entry.reply)
    elseif not request then
      tree:add(f.request_in, entry.request)
      local delta = pinfo.abs_ts - entry.time
      local seconds = math.floor(delta)
      tree:add(f.time, NSTime.new(seconds, math.floor((delta - seconds) * 1e9 + 0.5)))
    end
  elseif not request then
    tree:add_proto_expert_info(e.unmatched)
  end

  if length + 8 > size then
    tree:add_proto_expert_info(e.malformed,
      string.format("length %d, but %d payload bytes follow", length, size - 8))
    pinfo.cols.info:append(" [malformed]")
    return
  end
  notes = {}
  local payload
  if length > 0 then
    tree:add(f.payload, tvb(8, length))
    payload = tvb(8, length):tvb()
  else
    payload = ByteArray.new():tvb("empty payload")
  end
  local ok, failure = pcall(function()
    if request then
      local remembered = request_payload(tree, code, payload)
      if entry and remembered then
        entry.mask = entry.mask or remembered.mask
        entry.samples = entry.samples or remembered.samples
      end
    else
      reply_payload(tree, code, payload, entry or nil)
    end
  end)
  if not ok then tree:add_proto_expert_info(e.fault, tostring(failure)) end
  if #notes > 0 then pinfo.cols.info:append(": " .. table.concat(notes, ", ")) end
end

function dcp.dissector(tvb, pinfo, root)
  dissect(tvb, pinfo, root)
  return tvb:len()
end

DissectorTable.get("udp.port"):add(PORT, dcp)
