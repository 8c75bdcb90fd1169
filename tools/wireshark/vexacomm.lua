-- VexaComm protocol dissector for the packet analyser (Wireshark, tshark).
--
--   tshark -X lua_script:vexacomm.lua -r session.pcap -Y vexacomm
--   wireshark -X lua_script:vexacomm.lua session.pcap
-- or copy it into the personal Lua plug-ins folder (Help > About >
-- Folders). Registered on TCP port 30282 and as a heuristic for any other
-- TCP port. Every field is listed in docs/protocol.md; filters start with
-- "vexacomm." (vexacomm.cmd == 0x1003011, vexacomm.reply.code != 0, ...).
--
-- Packets are reassembled across segments in both framings (one packet
-- over many segments, many packets in one). What a packet means (greeting,
-- probe answer, first answer of a transfer, data packet, acknowledgement)
-- follows from the conversation and is worked out on the first pass.

local vexacomm = Proto("vexacomm", "VexaComm")

local PORT = 30282
local HEADER = 8
local PAYLOAD_MAX = 16376
local ENVELOPE_MAGIC = 0x76337692
local TAIL_MAGIC = 0x76927633
local ENVELOPE_CODE_ON = 0x76337692

local CMD_REPLY = 1
local CMD_PACKET_SIZE = 3
local CMD_ACK_MODE = 4
local CMD_IDENT = 0x3A
local CMD_CANCEL = 0x6E
local CMD_STATUS = 0x300
local CMD_DEVICE_TYPE = 0x1000024
local CMD_ASDU10 = 0x1003011
local CMD_ENVELOPE_PROBE = 0x76337692

local command_names = {
    [CMD_REPLY] = "CMD_REPLY",
    [CMD_PACKET_SIZE] = "CMD_PACKET_SIZE",
    [CMD_ACK_MODE] = "CMD_ACK_MODE",
    [CMD_IDENT] = "CMD_IDENT",
    [CMD_CANCEL] = "CMD_CANCEL",
    [CMD_STATUS] = "CMD_STATUS",
    [CMD_DEVICE_TYPE] = "CMD_DEVICE_TYPE",
    [CMD_ASDU10] = "CMD_ASDU10",
    [CMD_ENVELOPE_PROBE] = "CMD_ENVELOPE_PROBE",
}

-- The library's requests; the device answers each in kind or with CMD_REPLY.
local library_requests = {
    [CMD_ENVELOPE_PROBE] = true, [CMD_PACKET_SIZE] = true, [CMD_ACK_MODE] = true,
    [CMD_IDENT] = true, [CMD_DEVICE_TYPE] = true, [CMD_ASDU10] = true,
}

-- The file and program service has no command codes of its own: whoever
-- dispatches its requests picks them. These are the example answering
-- host's (examples/answering_host.c); add a site's own here. `request`:
-- the record the device sends; `answer`: the records the host sends back.
local service_commands = {
    [0x7E000001] = { name = "ASK_LIST", request = "file_request", answer = "file_info" },
    [0x7E000002] = { name = "ASK_FILE", request = "file_request", answer = "file_info" },
    [0x7E000003] = { name = "FILE_DATA" },
}
for code, s in pairs(service_commands) do
    command_names[code] = s.name
end

local f = {
    envelope = ProtoField.bool("vexacomm.envelope", "Enveloped"),
    cmd = ProtoField.uint32("vexacomm.cmd", "Command", base.HEX, command_names),
    len = ProtoField.uint32("vexacomm.len", "Length", base.DEC),
    direction = ProtoField.string("vexacomm.direction", "Direction"),
    checksum = ProtoField.uint32("vexacomm.checksum", "Checksum", base.HEX),
    checksum_computed = ProtoField.uint32("vexacomm.checksum.computed", "Computed checksum", base.HEX),
    trailer = ProtoField.uint32("vexacomm.trailer", "Tail word", base.HEX),
    greeting = ProtoField.bool("vexacomm.greeting", "Greeting"),
    reply_code = ProtoField.int32("vexacomm.reply.code", "Reply code", base.DEC),
    reply_reserved = ProtoField.uint32("vexacomm.reply.reserved", "Reserved", base.HEX),
    reply_text = ProtoField.stringz("vexacomm.reply.text", "Error text"),
    probe_envelope_on = ProtoField.bool("vexacomm.probe.envelope_on", "Envelopes on"),
    packet_size = ProtoField.uint16("vexacomm.packet_size", "Packet size", base.DEC),
    ack_mode = ProtoField.uint16("vexacomm.ack_mode", "Acknowledgement mode", base.DEC),
    query = ProtoField.bool("vexacomm.query", "Query (0xFFFF)"),
    device_type = ProtoField.uint16("vexacomm.device_type", "Device type", base.DEC),
    ident = ProtoField.stringz("vexacomm.ident", "Identification"),
    asdu10_head = ProtoField.bytes("vexacomm.asdu10.head", "Request head"),
    asdu10_count = ProtoField.int16("vexacomm.asdu10.count", "Entry count", base.DEC),
    asdu10_entry = ProtoField.bytes("vexacomm.asdu10.entry", "Entry"),
    asdu10_total = ProtoField.uint32("vexacomm.asdu10.total", "Total data bytes", base.DEC),
    asdu10_index = ProtoField.uint32("vexacomm.asdu10.index", "Data packet", base.DEC),
    asdu10_running = ProtoField.uint64("vexacomm.asdu10.running_total", "Bytes so far", base.DEC),
    asdu10_end = ProtoField.bool("vexacomm.asdu10.end", "End of data"),
    data = ProtoField.bytes("vexacomm.data", "Data"),
    ack = ProtoField.bool("vexacomm.ack", "Acknowledgement"),
    cancel = ProtoField.bool("vexacomm.cancel", "Cancel"),
    status_flags = ProtoField.uint32("vexacomm.status.flags", "Status flags", base.HEX),
    file_version = ProtoField.string("vexacomm.file.version", "Version"),
    file_year = ProtoField.uint16("vexacomm.file.year", "Year", base.DEC),
    file_month = ProtoField.uint16("vexacomm.file.month", "Month", base.DEC),
    file_day = ProtoField.uint16("vexacomm.file.day", "Day", base.DEC),
    file_hour = ProtoField.uint16("vexacomm.file.hour", "Hour", base.DEC),
    file_minute = ProtoField.uint16("vexacomm.file.minute", "Minute", base.DEC),
    file_second = ProtoField.uint16("vexacomm.file.second", "Second", base.DEC),
    file_size = ProtoField.uint32("vexacomm.file.size", "Size", base.DEC),
    file_attributes = ProtoField.uint32("vexacomm.file.attributes", "Attributes", base.HEX),
    file_start = ProtoField.uint32("vexacomm.file.start", "Start offset", base.DEC),
    file_count = ProtoField.uint32("vexacomm.file.count", "Count", base.DEC),
    file_path = ProtoField.stringz("vexacomm.file.path", "Path"),
    request_flags = ProtoField.uint8("vexacomm.request.flags", "Request flags", base.HEX),
    request_start = ProtoField.uint32("vexacomm.request.start", "Start offset", base.DEC),
    request_path = ProtoField.stringz("vexacomm.request.path", "Path"),
    program_kind = ProtoField.uint16("vexacomm.program.kind", "Kind", base.DEC),
    program_flags = ProtoField.uint8("vexacomm.program.flags", "Flags", base.HEX),
    program_show = ProtoField.uint16("vexacomm.program.show", "Show", base.DEC),
    program_wait = ProtoField.uint32("vexacomm.program.wait_ms", "Wait (ms)", base.DEC),
    program_delay = ProtoField.uint32("vexacomm.program.delay_ms", "Delay (ms)", base.DEC),
    program_verb = ProtoField.stringz("vexacomm.program.verb", "Verb"),
    program_command = ProtoField.stringz("vexacomm.program.command", "Command"),
}
local field_list = {}
for _, field in pairs(f) do
    field_list[#field_list + 1] = field
end
vexacomm.fields = field_list

local ef = {
    too_long = ProtoExpert.new("vexacomm.len.too_long", "Length over 16376", expert.group.MALFORMED,
        expert.severity.ERROR),
    bad_checksum = ProtoExpert.new("vexacomm.checksum.bad", "Wrong envelope checksum", expert.group.CHECKSUM,
        expert.severity.WARN),
    bad_trailer = ProtoExpert.new("vexacomm.trailer.bad", "Wrong envelope tail word", expert.group.MALFORMED,
        expert.severity.WARN),
    no_request = ProtoExpert.new("vexacomm.no_request", "Answer without a request", expert.group.SEQUENCE,
        expert.severity.ERROR),
    unknown = ProtoExpert.new("vexacomm.cmd.unknown", "Unknown command", expert.group.UNDECODED,
        expert.severity.WARN),
    short_payload = ProtoExpert.new("vexacomm.len.short", "Payload shorter than its record",
        expert.group.MALFORMED, expert.severity.WARN),
}
vexacomm.experts = { ef.too_long, ef.bad_checksum, ef.bad_trailer, ef.no_request, ef.unknown, ef.short_payload }

local tcp_stream = Field.new("tcp.stream")

-- Per TCP stream: who the device is and where the exchange stands. Per
-- packet (frame and offset): what the first pass found it to mean.
local streams = {}
local meanings = {}

function vexacomm.init()
    streams = {}
    meanings = {}
end

local function endpoint(address, port)
    return tostring(address) .. ":" .. tostring(port)
end

-- What the packet means in its conversation, decided once, in order.
local function meaning_of(pinfo, key, cmd, length, payload)
    if meanings[key] then
        return meanings[key]
    end
    local id = tcp_stream() and tcp_stream().value or -1
    local s = streams[id]
    if not s then
        -- The device listens on 30282. Elsewhere, a capture that begins
        -- with a request of the library's begins on the library's side;
        -- otherwise it begins with the device's greeting or an answer.
        local device
        if pinfo.dst_port == PORT or (pinfo.src_port ~= PORT and library_requests[cmd]) then
            device = endpoint(pinfo.dst, pinfo.dst_port)
        else
            device = endpoint(pinfo.src, pinfo.src_port)
        end
        s = { device = device, greeted = false, pending = 0, last = nil, streaming = false }
        streams[id] = s
    end
    local m = { from_device = endpoint(pinfo.src, pinfo.src_port) == s.device }
    if m.from_device then
        if not s.greeted then
            s.greeted = true
            m.greeting = cmd == CMD_REPLY
        elseif s.streaming and cmd == CMD_ASDU10 then
            s.index = s.index + 1
            s.running = s.running + length
            m.index = s.index
            m.running = s.running
            if length == 0 then
                m.index = nil
                m["end"] = true
                s.streaming = false
            end
        elseif cmd == CMD_CANCEL then
            s.streaming = false
        elseif s.streaming and cmd == CMD_REPLY then
            s.streaming = false
        elseif library_requests[cmd] or cmd == CMD_REPLY then
            if s.pending == 0 then
                m.no_request = true
            else
                s.pending = s.pending - 1
                m.answer_to = s.last
                if s.last == CMD_ASDU10 and cmd == CMD_ASDU10 and payload then
                    m.first_answer = true
                    s.streaming = payload:le_uint() > 0
                    s.index = 0
                    s.running = 0
                end
            end
        end
    else
        if s.streaming and cmd == CMD_REPLY and length == 0 then
            m.ack = true
        elseif library_requests[cmd] then
            s.pending = s.pending + 1
            s.last = cmd
        end
    end
    meanings[key] = m
    return m
end

local function add_text(tree, field, tvb, offset, size)
    if size > 0 then
        tree:add(field, tvb(offset, size))
    end
end

local function file_info(tree, tvb, at)
    local r = tree:add(vexacomm, tvb(at, 292), "File information record")
    r:add_le(f.file_year, tvb(at + 4, 2))
    r:add_le(f.file_month, tvb(at + 6, 2))
    r:add_le(f.file_day, tvb(at + 8, 2))
    r:add_le(f.file_hour, tvb(at + 10, 2))
    r:add_le(f.file_minute, tvb(at + 12, 2))
    r:add_le(f.file_second, tvb(at + 14, 2))
    r:add_le(f.file_size, tvb(at + 20, 4))
    r:add_le(f.file_attributes, tvb(at + 24, 4))
    r:add_le(f.file_start, tvb(at + 28, 4))
    r:add_le(f.file_count, tvb(at + 32, 4))
    r:add(f.file_path, tvb(at + 36, 256))
end

-- The payload of one service packet, by its command's table entry.
local function service_records(tree, tvb, payload_at, length, kind)
    if kind == "file_request" then
        if length < 12 then
            tree:add_proto_expert_info(ef.short_payload)
            return
        end
        local r = tree:add(vexacomm, tvb(payload_at, length), "File request")
        r:add(f.request_flags, tvb(payload_at + 2, 1))
        r:add_le(f.request_start, tvb(payload_at + 4, 4))
        add_text(r, f.request_path, tvb, payload_at + 12, length - 12)
    elseif kind == "program_request" then
        if length < 34 then
            tree:add_proto_expert_info(ef.short_payload)
            return
        end
        local r = tree:add(vexacomm, tvb(payload_at, length), "Program request")
        r:add_le(f.program_kind, tvb(payload_at, 2))
        r:add(f.program_flags, tvb(payload_at + 2, 1))
        r:add_le(f.program_show, tvb(payload_at + 4, 2))
        r:add_le(f.program_wait, tvb(payload_at + 6, 4))
        r:add_le(f.program_delay, tvb(payload_at + 10, 4))
        r:add(f.program_verb, tvb(payload_at + 18, 16))
        add_text(r, f.program_command, tvb, payload_at + 34, length - 34)
    elseif kind == "file_info" then
        if length % 324 == 0 and length % 292 ~= 0 then
            for at = payload_at, payload_at + length - 1, 324 do
                tree:add(f.file_version, tvb(at, 32))
                file_info(tree, tvb, at + 32)
            end
        elseif length % 292 == 0 then
            for at = payload_at, payload_at + length - 1, 292 do
                file_info(tree, tvb, at)
            end
        else
            tree:add_proto_expert_info(ef.short_payload)
        end
    end
end

local function payload_fields(tree, tvb, pinfo, cmd, length, at, m)
    local payload = length > 0 and tvb(at, length) or nil
    local info
    if m.greeting then
        tree:add(f.greeting, true):set_generated()
        info = "greeting"
    end
    if cmd == CMD_REPLY then
        if length >= 4 then
            local code = payload(0, 4):le_int()
            tree:add_le(f.reply_code, payload(0, 4))
            info = (info and info .. ", " or "") .. "code " .. code
            if m.answer_to == CMD_ENVELOPE_PROBE then
                local on = payload(0, 4):le_uint() == ENVELOPE_CODE_ON
                tree:add(f.probe_envelope_on, on):set_generated()
                info = on and "envelopes on" or info .. ", envelopes off"
            end
            if length >= 8 then
                tree:add_le(f.reply_reserved, payload(4, 4))
            end
            add_text(tree, f.reply_text, tvb, at + 8, length - 8)
        elseif m.answer_to == CMD_ENVELOPE_PROBE then
            tree:add(f.probe_envelope_on, false):set_generated()
        end
        if m.ack then
            tree:add(f.ack, true):set_generated()
            info = "acknowledgement"
        end
    elseif (cmd == CMD_PACKET_SIZE or cmd == CMD_ACK_MODE) and length >= 2 then
        local value = payload(0, 2):le_uint()
        tree:add_le(cmd == CMD_PACKET_SIZE and f.packet_size or f.ack_mode, payload(0, 2))
        if value == 0xFFFF then
            tree:add(f.query, true):set_generated()
        end
        info = "value " .. value
    elseif cmd == CMD_DEVICE_TYPE and length >= 2 then
        tree:add_le(f.device_type, payload(0, 2))
        info = "type " .. payload(0, 2):le_uint()
    elseif cmd == CMD_IDENT and length > 0 then
        tree:add(f.ident, payload)
        info = '"' .. payload:stringz() .. '"'
    elseif cmd == CMD_CANCEL then
        tree:add(f.cancel, true):set_generated()
    elseif cmd == CMD_STATUS and length >= 4 then
        tree:add_le(f.status_flags, payload(0, 4))
    elseif cmd == CMD_ASDU10 then
        if m.first_answer then
            tree:add_le(f.asdu10_total, payload(0, 4))
            info = "total " .. payload(0, 4):le_uint()
        elseif m.index then
            tree:add(f.asdu10_index, m.index):set_generated()
            tree:add(f.asdu10_running, UInt64(m.running)):set_generated()
            tree:add(f.data, payload)
            info = "data packet " .. m.index
        elseif m["end"] then
            tree:add(f.asdu10_end, true):set_generated()
            info = "end of data"
        elseif not m.from_device and length == 0 then
            info = "request, all entries"
        elseif not m.from_device and length >= 8 then
            tree:add(f.asdu10_head, payload(0, 8))
            tree:add_le(f.asdu10_count, payload(6, 2))
            local count = payload(6, 2):le_int()
            info = "request, " .. count .. " entries"
            for e = 0, count - 1 do
                if 8 + 8 * e + 8 > length then
                    break
                end
                tree:add(f.asdu10_entry, payload(8 + 8 * e, 8))
            end
        end
    elseif service_commands[cmd] then
        local kind = m.from_device and service_commands[cmd].request or service_commands[cmd].answer
        if kind and length > 0 then
            service_records(tree, tvb, at, length, kind)
        elseif length > 0 then
            tree:add(f.data, payload)
        end
    elseif not command_names[cmd] then
        tree:add_proto_expert_info(ef.unknown)
    end
    if m.no_request then
        tree:add_proto_expert_info(ef.no_request)
    end
    return info
end

-- Bytes of one whole packet at `offset`, or nil and the bytes that are
-- there when more are needed; -1 when the header cannot be a packet's.
local function packet_size(tvb, offset)
    local left = tvb:len() - offset
    if left < HEADER then
        return nil
    end
    local enveloped = tvb(offset, 4):le_uint() == ENVELOPE_MAGIC and tvb(offset + 4, 4):le_uint() == ENVELOPE_MAGIC
    local head = enveloped and 2 * HEADER or HEADER
    if left < head then
        return nil
    end
    local length = tvb(offset + head - 4, 4):le_uint()
    if length > PAYLOAD_MAX then
        return -1, enveloped
    end
    return head + length + (enveloped and 12 or 0), enveloped
end

local function dissect_packet(tvb, pinfo, root, offset, size, enveloped)
    local at = offset + (enveloped and HEADER or 0)
    local cmd = tvb(at, 4):le_uint()
    local length = tvb(at + 4, 4):le_uint()
    local tree = root:add(vexacomm, tvb(offset, size))
    local total = length == 4 and tvb(at + HEADER, 4) or nil
    -- Two packets may end in one frame, each handed over at offset 0 of
    -- a buffer of its own: the buffer's length and first bytes tell them apart.
    local key = pinfo.number .. ":" .. offset .. ":" .. tvb:len() .. ":" .. tostring(tvb(offset, math.min(size, 32)):bytes())
    local m = meaning_of(pinfo, key, cmd, length, total)
    tree:add(f.direction, m.from_device and "device -> library" or "library -> device"):set_generated()
    tree:add(f.envelope, enveloped):set_generated()
    if enveloped then
        tree:add(vexacomm, tvb(offset, HEADER), "Envelope head")
    end
    tree:add_le(f.cmd, tvb(at, 4))
    tree:add_le(f.len, tvb(at + 4, 4))
    local info = payload_fields(tree, tvb, pinfo, cmd, length, at + HEADER, m)
    if enveloped then
        local trailer = at + HEADER + length
        local sum = 0
        local bytes = tvb:bytes(at, HEADER + length)
        for i = 0, bytes:len() - 1 do
            sum = sum + bytes:get_index(i)
        end
        local item = tree:add_le(f.checksum, tvb(trailer, 4))
        tree:add(f.checksum_computed, sum):set_generated()
        if tvb(trailer, 4):le_uint() ~= sum then
            item:add_proto_expert_info(ef.bad_checksum)
        end
        for i = 0, 1 do
            local word = tree:add_le(f.trailer, tvb(trailer + 4 + 4 * i, 4))
            if tvb(trailer + 4 + 4 * i, 4):le_uint() ~= TAIL_MAGIC then
                word:add_proto_expert_info(ef.bad_trailer)
            end
        end
    end
    local name = command_names[cmd] or string.format("0x%X", cmd)
    if m.index or m["end"] then
        name = "DATA"
    end
    local text = (m.from_device and "< " or "> ") .. name .. " len " .. length .. (enveloped and " env" or "")
    if info then
        text = text .. " (" .. info .. ")"
    end
    tree:append_text(": " .. text)
    return text
end

-- tcp_dissect_pdus in Lua: whole packets from the reassembled stream;
-- asks the TCP layer for the rest of a packet that goes on.
function vexacomm.dissector(tvb, pinfo, root)
    local offset = 0
    local texts = {}
    while offset < tvb:len() do
        local size, enveloped = packet_size(tvb, offset)
        if size == nil then
            pinfo.desegment_offset = offset
            pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
            offset = tvb:len()
            break
        end
        if size == -1 then
            -- No packet boundary can be trusted after this header.
            local at = offset + (enveloped and HEADER or 0)
            local tree = root:add(vexacomm, tvb(offset))
            tree:add_le(f.cmd, tvb(at, 4))
            tree:add_le(f.len, tvb(at + 4, 4)):add_proto_expert_info(ef.too_long)
            texts[#texts + 1] = "length over 16376"
            offset = tvb:len()
            break
        end
        if tvb:len() - offset < size then
            pinfo.desegment_offset = offset
            pinfo.desegment_len = size - (tvb:len() - offset)
            offset = tvb:len()
            break
        end
        texts[#texts + 1] = dissect_packet(tvb, pinfo, root, offset, size, enveloped)
        offset = offset + size
    end
    if #texts > 0 then
        pinfo.cols.protocol = "VexaComm"
        pinfo.cols.info = table.concat(texts, "; ")
    end
    return offset
end

-- Whether the first bytes of a segment too short for a header can begin a
-- packet: a whole known command word (or the envelope head) and a length in
-- range so far. Fewer than 4 bytes are too little to tell: a conversation
-- whose first piece is that short needs "Decode As" on another port.
local function plausible_start(tvb)
    local n = tvb:len()
    if n < 4 then
        return false
    end
    for code in pairs(command_names) do
        local ok = true
        for i = 0, math.min(n, 4) - 1 do
            if tvb(i, 1):uint() ~= bit.band(bit.rshift(code, 8 * i), 0xFF) then
                ok = false
                break
            end
        end
        if ok and code ~= ENVELOPE_MAGIC then
            ok = (n < 7 or tvb(6, 1):uint() <= 0x3F) and (n < 8 or tvb(7, 1):uint() == 0)
        end
        if ok then
            return true
        end
    end
    return false
end

local function heuristic(tvb, pinfo, root)
    if tvb:len() < HEADER then
        -- A packet cut into small segments: claim the conversation on the
        -- first bytes, so that reassembly starts with them.
        if not plausible_start(tvb) then
            return false
        end
        pinfo.conversation = vexacomm
        vexacomm.dissector(tvb, pinfo, root)
        return true
    end
    local first = tvb(0, 4):le_uint()
    local at = 0
    if first == ENVELOPE_MAGIC and tvb:len() >= 2 * HEADER and tvb(4, 4):le_uint() == ENVELOPE_MAGIC then
        at = HEADER
    end
    local cmd = tvb(at, 4):le_uint()
    if not command_names[cmd] or tvb(at + 4, 4):le_uint() > PAYLOAD_MAX then
        return false
    end
    pinfo.conversation = vexacomm
    vexacomm.dissector(tvb, pinfo, root)
    return true
end

DissectorTable.get("tcp.port"):add(PORT, vexacomm)
vexacomm:register_heuristic("tcp", heuristic)
