-- DUXL for Wireshark: reads the wire captures that dux-host --capture writes (link type USER0, see
-- docs/capture.md) and shows every DUXL frame on them (docs/protocol.md), each request paired with its
-- reply and placed in the update's phase.
-- Install: copy to ~/.local/lib/wireshark/plugins/ (or use the copy in share/dux/wireshark/ with
-- wireshark -X lua_script:/usr/share/dux/wireshark/duxl.lua).

local duxl = Proto("duxl", "DUXL serial link")

local START_OF_FRAME = 0xD7
local CRC_BYTES = 2
local HEADER_BYTES = 2
local MAX_TEXT_BYTES = 32
local SEQUENCE_MASK = 0x1F
local WINDOW_CODE = 7
local NOT_A_FRAME_CODE = 6
local HOST_TO_MODULE = 0

local events = { [0] = "data", [1] = "open", [2] = "close", [3] = "data rate", [4] = "module" }
local directions = { [0] = "host to module", [1] = "module to host" }
local kinds = {
    [0] = "command request", [1] = "command request, no reply", [2] = "command request, broadcast",
    [3] = "version request", [4] = "command reply", [5] = "version reply", [7] = "window",
}
-- Body bytes by kind code; a version reply's length is its first body byte plus one.
local body_bytes = { [0] = 9, [1] = 9, [2] = 9, [3] = 1, [4] = 6, [7] = 1 }
local commands = {
    [200] = "erase", [201] = "write word", [202] = "program page", [203] = "read checksum",
    [205] = "restart", [206] = "read parameter", [208] = "store attribute", [242] = "enter bootloader",
}
local statuses = { [100] = "done", [2] = "command unknown", [4] = "value refused" }
-- The phase each command starts, as the update runs them (updater/updatephase.cpp names them).
local command_phases = {
    [242] = "entry", [206] = "parameters", [200] = "erase", [201] = "write", [202] = "write",
    [203] = "verify", [208] = "store", [205] = "restart",
}

local f = duxl.fields
f.event = ProtoField.uint8("duxl.event", "Event", base.DEC, events)
f.direction = ProtoField.uint8("duxl.direction", "Direction", base.DEC, directions)
f.port = ProtoField.string("duxl.port", "Port")
f.rate = ProtoField.uint32("duxl.rate", "Data rate", base.DEC)
f.module_key = ProtoField.string("duxl.module_key", "Module")
f.frame = ProtoField.bytes("duxl.frame", "Frame")
f.kind = ProtoField.uint8("duxl.kind", "Kind", base.DEC, kinds, 0xE0)
f.sequence = ProtoField.uint8("duxl.sequence", "Sequence", base.DEC, nil, SEQUENCE_MASK)
f.address = ProtoField.uint8("duxl.address", "Module address", base.DEC)
f.command = ProtoField.uint8("duxl.command", "Command", base.DEC)
f.command_name = ProtoField.string("duxl.command_name", "Command name")
f.type = ProtoField.uint16("duxl.type", "Type", base.DEC)
f.bank = ProtoField.uint8("duxl.bank", "Motor or bank", base.DEC)
f.value = ProtoField.int32("duxl.value", "Value", base.DEC)
f.status = ProtoField.uint8("duxl.status", "Status", base.DEC, statuses)
f.text_length = ProtoField.uint8("duxl.text_length", "Text length", base.DEC)
f.text = ProtoField.string("duxl.text", "Version text")
f.window = ProtoField.uint8("duxl.window", "Window", base.DEC)
f.crc = ProtoField.uint16("duxl.crc", "CRC", base.HEX)
f.crc_status = ProtoField.string("duxl.crc_status", "CRC verdict")
f.phase = ProtoField.string("duxl.phase", "Update phase")
f.reply_in = ProtoField.framenum("duxl.reply_in", "Reply in", base.NONE, frametype.RESPONSE)
f.request_in = ProtoField.framenum("duxl.request_in", "Request in", base.NONE, frametype.REQUEST)
f.unframed = ProtoField.bytes("duxl.unframed", "Bytes outside any frame")

local e_bad_crc = ProtoExpert.new("duxl.bad_crc", "CRC does not match", expert.group.CHECKSUM, expert.severity.WARN)
local e_no_reply = ProtoExpert.new("duxl.no_reply", "Request without a reply", expert.group.SEQUENCE, expert.severity.NOTE)
duxl.experts = { e_bad_crc, e_no_reply }

-- CRC-16/CCITT-FALSE over a byte string.
-- Wireshark's Lua is 5.2: bit operations come from bit32.
local band, bxor, lshift, rshift = bit32.band, bit32.bxor, bit32.lshift, bit32.rshift

local function crc16(bytes)
    local crc = 0xFFFF
    for i = 1, #bytes do
        crc = bxor(crc, lshift(bytes:byte(i), 8))
        for _ = 1, 8 do
            if band(crc, 0x8000) ~= 0 then
                crc = band(bxor(lshift(crc, 1), 0x1021), 0xFFFF)
            else
                crc = band(lshift(crc, 1), 0xFFFF)
            end
        end
    end
    return crc
end

-- The length of the frame starting at `pos` (1-based) of `bytes`: nil when these bytes cannot begin
-- one, -1 when more are needed to tell.
local function frame_length(bytes, pos)
    if #bytes < pos + 1 then return -1 end
    local control = bytes:byte(pos + 1)
    local code = rshift(control, 5)
    if code == NOT_A_FRAME_CODE or (code == WINDOW_CODE and band(control, SEQUENCE_MASK) ~= 0) then return nil end
    if code == 5 then
        if #bytes < pos + 2 then return -1 end
        local text = bytes:byte(pos + 2)
        if text > MAX_TEXT_BYTES then return nil end
        return HEADER_BYTES + 1 + text + CRC_BYTES
    end
    return HEADER_BYTES + body_bytes[code] + CRC_BYTES
end

local function crc_good(bytes, pos, length)
    local sum = bytes:byte(pos + length - 2) * 256 + bytes:byte(pos + length - 1)
    return crc16(bytes:sub(pos + 1, pos + length - 3)) == sum
end

-- Cuts `bytes` into pieces: frames (good or with a bad CRC), bytes outside any frame, and the tail
-- that a later packet may complete.
local function cut(bytes)
    local pieces, pos, unframed_from = {}, 1, nil
    local function flush_unframed(upto)
        if unframed_from and upto > unframed_from then
            pieces[#pieces + 1] = { kind = "unframed", from = unframed_from, length = upto - unframed_from }
        end
        unframed_from = nil
    end
    while pos <= #bytes do
        local length = bytes:byte(pos) == START_OF_FRAME and frame_length(bytes, pos) or nil
        if length == -1 or (length and pos + length - 1 > #bytes) then
            flush_unframed(pos)
            return pieces, bytes:sub(pos)
        end
        if length and crc_good(bytes, pos, length) then
            flush_unframed(pos)
            pieces[#pieces + 1] = { kind = "frame", from = pos, length = length, good = true }
            pos = pos + length
        elseif length then
            -- A corrupt frame, unless a good one starts inside it: then only its bytes before it are junk.
            local inner = nil
            for at = pos + 1, pos + length - 1 do
                local l = bytes:byte(at) == START_OF_FRAME and frame_length(bytes, at) or nil
                if l and l > 0 and at + l - 1 <= #bytes and crc_good(bytes, at, l) then inner = at break end
            end
            if inner then
                unframed_from = unframed_from or pos
                pos = inner
            else
                flush_unframed(pos)
                pieces[#pieces + 1] = { kind = "frame", from = pos, length = length, good = false }
                pos = pos + length
            end
        else
            unframed_from = unframed_from or pos
            pos = pos + 1
        end
    end
    flush_unframed(pos)
    return pieces, ""
end

-- First-pass state, rebuilt whenever the file is read again.
local carried, carry_of, streams, pairs_of, phases = {}, {}, {}, {}, {}
function duxl.init()
    carried, carry_of, streams, pairs_of, phases = {}, {}, {}, {}, {}
end

local function phase_of(port, code, command)
    local state = streams[port] or { phase = nil }
    streams[port] = state
    if code == 3 then
        if state.phase == "entry" then state.phase = "detection"
        elseif state.phase == "restart" then state.phase = "reconnect" end
    elseif code == WINDOW_CODE then
        state.phase = "write"
    elseif code <= 2 and command_phases[command] then
        local next = command_phases[command]
        if next == "write" and state.checksum_read then next = "store" end
        if command == 203 then state.checksum_read = true end
        if command == 200 then state.checksum_read = false end
        state.phase = next
    end
    return state.phase
end

local function add_frame(tree, tvb, from, length, good, pinfo, port, outgoing, key)
    local range = tvb(from - 1, length)
    local control = range(1, 1):uint()
    local code = rshift(control, 5)
    local sequence = band(control, SEQUENCE_MASK)
    local body = range(2, length - 4)
    local node = tree:add(f.frame, range)
    node:add(f.kind, range(1, 1))
    node:add(f.sequence, range(1, 1))
    local command = nil
    local summary = kinds[code] .. " " .. sequence
    if code <= 2 then
        command = body(1, 1):uint()
        node:add(f.address, body(0, 1))
        node:add(f.command, body(1, 1))
        node:add(f.command_name, body(1, 1), commands[command] or ("command " .. command))
        node:add(f.type, body(2, 2))
        node:add(f.bank, body(4, 1))
        node:add(f.value, body(5, 4))
        summary = summary .. " " .. (commands[command] or command) .. " type " .. body(2, 2):uint()
            .. " bank " .. body(4, 1):uint() .. " value " .. body(5, 4):int()
    elseif code == 3 then
        node:add(f.address, body(0, 1))
    elseif code == 4 then
        command = body(0, 1):uint()
        node:add(f.command, body(0, 1))
        node:add(f.command_name, body(0, 1), commands[command] or ("command " .. command))
        node:add(f.status, body(1, 1))
        node:add(f.value, body(2, 4))
        summary = summary .. " " .. (commands[command] or command) .. " status " .. body(1, 1):uint()
            .. " value " .. body(2, 4):int()
    elseif code == 5 then
        node:add(f.text_length, body(0, 1))
        if body:len() > 1 then
            node:add(f.text, body(1, body:len() - 1))
            summary = summary .. " " .. body(1, body:len() - 1):string()
        end
    else
        node:add(f.window, body(0, 1))
        summary = summary .. " of " .. body(0, 1):uint()
    end
    node:add(f.crc, range(length - 2, 2))
    local crc_item = node:add(f.crc_status, range(length - 2, 2), good and "good" or "bad")
    if not good then crc_item:add_proto_expert_info(e_bad_crc) end
    node:set_text(summary .. (good and "" or " [bad CRC]"))

    if good then
        if not pinfo.visited then
            if outgoing then
                phases[key] = phase_of(port, code, command)
            end
            local stream = streams[port] or {}
            streams[port] = stream
            stream.pending = stream.pending or {}
            local slot = (code == WINDOW_CODE) and "w" or sequence
            if outgoing and code ~= 1 and code ~= 2 then
                stream.pending[slot] = key
                pairs_of[key] = { packet = pinfo.number }
            elseif not outgoing and stream.pending[slot] then
                local request = stream.pending[slot]
                stream.pending[slot] = nil
                pairs_of[key] = { packet = pinfo.number, request = pairs_of[request].packet }
                pairs_of[request].reply = pinfo.number
            end
            if not outgoing then phases[key] = stream.phase end
        end
        if phases[key] then node:add(f.phase, phases[key]) end
        local pair = pairs_of[key]
        if pair and pair.reply then node:add(f.reply_in, pair.reply) end
        if pair and pair.request then node:add(f.request_in, pair.request) end
        if pair and outgoing and not pair.reply and pinfo.visited then node:add_proto_expert_info(e_no_reply) end
    end
    return summary
end

function duxl.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "DUXL"
    if tvb:len() < 3 then return 0 end
    local event = tvb(0, 1):uint()
    local direction = tvb(1, 1):uint()
    local name_bytes = tvb(2, 1):uint()
    if tvb:len() < 3 + name_bytes then return 0 end
    local port = name_bytes > 0 and tvb(3, name_bytes):string() or ""
    local subtree = tree:add(duxl, tvb(), "DUXL " .. port)
    subtree:add(f.event, tvb(0, 1))
    subtree:add(f.direction, tvb(1, 1))
    if name_bytes > 0 then subtree:add(f.port, tvb(3, name_bytes)) end
    local payload_at = 3 + name_bytes
    local payload_len = tvb:len() - payload_at
    if event ~= 0 then
        local info = port .. " " .. (events[event] or ("event " .. event))
        if (event == 1 or event == 3) and payload_len >= 4 then
            subtree:add(f.rate, tvb(payload_at, 4))
            info = info .. " at " .. tvb(payload_at, 4):uint() .. " baud"
        elseif event == 4 and payload_len > 0 then
            subtree:add(f.module_key, tvb(payload_at, payload_len))
            info = info .. " " .. tvb(payload_at, payload_len):string()
        end
        pinfo.cols.info = info
        return tvb:len()
    end
    local outgoing = direction == HOST_TO_MODULE
    pinfo.cols.src = outgoing and "host" or port
    pinfo.cols.dst = outgoing and port or "host"
    local stream = port .. "/" .. direction
    if not pinfo.visited then
        carry_of[pinfo.number] = carried[stream] or ""
    end
    local carry = carry_of[pinfo.number] or ""
    local data = payload_len > 0 and tvb(payload_at, payload_len):bytes():raw() or ""
    local bytes = carry .. data
    local frames_tvb = tvb
    local offset = payload_at
    if #carry > 0 then
        frames_tvb = ByteArray.new(bytes, true):tvb("Bytes with those of earlier packets")
        offset = 0
    end
    local pieces, rest = cut(bytes)
    if not pinfo.visited then carried[stream] = rest end
    local info = {}
    for index, piece in ipairs(pieces) do
        if piece.kind == "unframed" then
            subtree:add(f.unframed, frames_tvb(offset + piece.from - 1, piece.length))
            info[#info + 1] = piece.length .. " bytes outside any frame"
        else
            local key = pinfo.number .. ":" .. index
            info[#info + 1] = add_frame(subtree, frames_tvb, offset + piece.from, piece.length, piece.good, pinfo,
                                        port, outgoing, key)
        end
    end
    if #rest > 0 then info[#info + 1] = "start of a frame (" .. #rest .. " bytes)" end
    pinfo.cols.info = port .. " " .. (outgoing and "> " or "< ") .. table.concat(info, "; ")
    return tvb:len()
end

local encap = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encap.USER0, duxl)
