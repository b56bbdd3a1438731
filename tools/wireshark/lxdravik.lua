-- Wireshark dissector for the datagrams that lxdravik drains from UDP port
-- 2501: level packets (kind 0x202F) and block packets (kind 0x808F). Every
-- datagram and every block is judged by the rules of the driver's intake
-- (intake/datagram.cpp, intake/run_length.cpp, and the receive's size limit):
-- lxdravik.applied says whether the driver writes anything of it, and an
-- expert warning says why not. Coded blocks are decoded into the levels that
-- the driver writes.
--
-- Install: copy this file into the personal Lua plugins folder
-- (~/.local/lib/wireshark/plugins/ on Linux, %APPDATA%\Wireshark\plugins\ on
-- Windows), or run tshark -X lua_script:lxdravik.lua.

local proto = Proto("lxdravik", "lxdravik lighting datagram")

local UDP_PORT = 2501
local RECEIVE_LIMIT = 1316 -- longer datagrams are discarded whole on receive
local STORE_SIZE = 18432 -- 36 ports x 512 channels
local CHANNELS = 512
local LEVEL_KIND = 0x202F
local BLOCK_KIND = 0x808F
local LEVEL_DATA = 66
local MAX_LEVELS = 1024
local BLOCK_DATA = 36
local MAX_BLOCKS = 4

local kind_names = { [LEVEL_KIND] = "Level packet", [BLOCK_KIND] = "Block packet" }

local f = {
    kind = ProtoField.uint16("lxdravik.kind", "Kind", base.HEX, kind_names),
    applied = ProtoField.bool("lxdravik.applied", "Applied by the driver"),
    level_count = ProtoField.uint16("lxdravik.level.count", "Level count", base.DEC),
    level_start = ProtoField.uint32("lxdravik.level.start", "Start address", base.DEC),
    level_port = ProtoField.uint16("lxdravik.level.port", "Port", base.DEC),
    level_channel = ProtoField.uint16("lxdravik.level.channel", "Channel", base.DEC),
    level_levels = ProtoField.bytes("lxdravik.level.levels", "Levels"),
    block = ProtoField.none("lxdravik.block", "Block"),
    block_index = ProtoField.uint8("lxdravik.block.index", "Index", base.DEC),
    block_start = ProtoField.uint16("lxdravik.block.start", "Start address", base.DEC),
    block_count = ProtoField.uint16("lxdravik.block.count", "Count", base.DEC),
    block_offset = ProtoField.uint16("lxdravik.block.offset", "Data offset", base.DEC),
    block_encoded = ProtoField.uint16("lxdravik.block.encoded_length", "Encoded length", base.DEC),
    block_coded = ProtoField.bool("lxdravik.block.coded", "Run-length coded"),
    block_applied = ProtoField.bool("lxdravik.block.applied", "Applied by the driver"),
    block_port = ProtoField.uint16("lxdravik.block.port", "Port", base.DEC),
    block_channel = ProtoField.uint16("lxdravik.block.channel", "Channel", base.DEC),
    block_levels = ProtoField.bytes("lxdravik.block.levels", "Levels"),
}
proto.fields = {}
for _, field in pairs(f) do
    table.insert(proto.fields, field)
end

local e = {
    ignored = ProtoExpert.new("lxdravik.ignored", "Datagram ignored by the driver",
        expert.group.PROTOCOL, expert.severity.WARN),
    block_ignored = ProtoExpert.new("lxdravik.block.ignored", "Block ignored by the driver",
        expert.group.PROTOCOL, expert.severity.WARN),
    code_cut = ProtoExpert.new("lxdravik.block.code_cut", "Code cut off by the end of its data",
        expert.group.MALFORMED, expert.severity.WARN),
    note = ProtoExpert.new("lxdravik.note", "How the driver takes the data",
        expert.group.PROTOCOL, expert.severity.NOTE),
}
proto.experts = { e.ignored, e.block_ignored, e.code_cut, e.note }

-- Port and channel of a 1-based store address.
local function locate(address)
    return math.floor((address - 1) / CHANNELS), (address - 1) % CHANNELS
end

local function number(n)
    local text = tostring(n)
    while true do
        local grouped, k = text:gsub("^(%d+)(%d%d%d)", "%1,%2")
        text = grouped
        if k == 0 then
            return text
        end
    end
end

-- Why the receive drops a datagram of `length` bytes before it is applied.
local function receive_verdict(length)
    if length == 0 then
        return "empty: it ends the driver's receive pass"
    elseif length > RECEIVE_LIMIT then
        return "longer than " .. number(RECEIVE_LIMIT) .. " bytes: discarded whole on receive"
    end
    return nil
end

-- Decodes `length` bytes of run-length code at `at` as the driver does for a
-- block of `expected` levels with `room` bytes left in the store. Returns the
-- bytes written, the code bytes read, the sum of the code counts, and whether
-- the last code was cut off by the end of the data (and so not written).
local function decode_run_length(tvb, at, length, expected, room)
    local source = tvb:bytes(at, length)
    local out = {}
    local read, total, cut = 0, 0, false
    while read < length do
        local control = source:get_index(read)
        read = read + 1
        local n = control % 128
        local fit = math.min(n, math.max(room - total, 0))
        if control >= 128 then
            if read == length then
                cut = true
                break
            end
            local value = source:get_index(read)
            read = read + 1
            for _ = 1, fit do
                out[#out + 1] = value
            end
        else
            if length - read < n then
                cut = true
                break
            end
            for k = 0, fit - 1 do
                out[#out + 1] = source:get_index(read + k)
            end
            read = read + n
        end
        total = total + n
        if total >= expected then
            break
        end
    end
    local written = ByteArray.new()
    written:set_size(#out)
    for i, value in ipairs(out) do
        written:set_index(i - 1, value)
    end
    return written, read, total, cut
end

local function add_generated(tree, field, value)
    local item = tree:add(field, value)
    item:set_generated()
    return item
end

-- Levels that the driver writes straight from the datagram. A write of no
-- level still gets the field, empty.
local function add_levels(tree, field, tvb, at, count)
    if count == 0 then
        return add_generated(tree, field, "")
    end
    return tree:add(field, tvb:range(at, count))
end

-- Decoded levels, shown in a tab of their own.
local function add_decoded(tree, field, bytes, label)
    if bytes:len() == 0 then
        return add_generated(tree, field, "")
    end
    return tree:add(field, bytes:tvb(label):range())
end

local function dissect_level(tvb, length, tree, dropped)
    local summary = "Level:"
    local count, start
    if length >= 10 then
        count = tvb(8, 2):uint()
        tree:add(f.level_count, tvb(8, 2))
        summary = summary .. " " .. count .. (count == 1 and " level" or " levels")
    end
    if length >= 16 then
        start = tvb(12, 4):uint()
        tree:add(f.level_start, tvb(12, 4))
        if start >= 1 then
            local port, channel = locate(start)
            add_generated(tree, f.level_port, port)
            add_generated(tree, f.level_channel, channel)
            summary = summary .. " at port " .. port .. " ch " .. channel
        else
            summary = summary .. " at address 0"
        end
    end

    local why = dropped
    if why == nil then
        if length < LEVEL_DATA then
            why = "shorter than its " .. LEVEL_DATA .. "-byte header"
        elseif count > MAX_LEVELS then
            why = "more than " .. number(MAX_LEVELS) .. " levels"
        elseif start == 0 then
            why = "start address 0"
        elseif start + count > STORE_SIZE + 1 then
            why = "runs past the end of the store (port 35 ch 511)"
        elseif length - LEVEL_DATA < count then
            why = "shorter than its count (" .. (length - LEVEL_DATA) .. " of " .. count ..
                " levels present)"
        end
    end
    add_generated(tree, f.applied, why == nil)
    if why == nil then
        add_levels(tree, f.level_levels, tvb, LEVEL_DATA, count)
        if count == 0 then
            tree:add_proto_expert_info(e.note, "Level count 0: applied, but no channel changes")
        end
        return summary
    end
    tree:add_proto_expert_info(e.ignored, "Ignored by the driver: " .. why)
    return summary .. " (ignored: " .. why .. ")"
end

-- Adds the notes on a coded block that the driver applies.
local function note_decode(sub, index, count, written, read, total, encoded, cut, room)
    if cut then
        sub:add_proto_expert_info(e.code_cut, "Block " .. index ..
            ": its last code is cut off by the end of its data and is not written")
    end
    if total < count then
        sub:add_proto_expert_info(e.note, "Block " .. index .. ": the codes cover " .. total ..
            " of " .. count .. " levels; the other channels keep their levels")
    elseif total > count then
        sub:add_proto_expert_info(e.note, "Block " .. index .. ": the last code passes the count by " ..
            (total - count) .. ", and those levels are written too")
    end
    if total > room then
        sub:add_proto_expert_info(e.note, "Block " .. index ..
            ": the code runs past the end of the store; " .. written .. " levels written")
    end
    if not cut and read < encoded then
        sub:add_proto_expert_info(e.note, "Block " .. index .. ": " .. (encoded - read) ..
            " bytes after the code that completes the count are not read")
    end
end

-- Table slot i as the driver reads it: its fields, and why the driver
-- ignores the block (nil when it applies it). `ended` says why the block list
-- has ended before this slot, if it has; the result's `ended` says it after.
local function read_block(tvb, i, data_length, ended)
    local b = { index = i, start_at = 6 + 2 * i, count_at = 14 + 2 * i, offset_at = 22 + 2 * i }
    b.start = tvb(b.start_at, 2):le_uint()
    b.count = tvb(b.count_at, 2):le_uint()
    b.offset = tvb(b.offset_at, 2):le_uint()
    b.encoded = (tvb(b.offset_at + 2, 2):le_uint() - b.offset) % 65536
    b.coded = b.encoded ~= b.count
    b.ended = ended
    if b.start == 0 then
        b.ended = ended or ("block " .. i .. " has start address 0, which ends the list")
    elseif ended then
        b.blocked = "behind the end of the block list (" .. ended .. ")"
    elseif i > 0 and b.offset == 0 then
        b.ended = "block " .. i .. " has data offset 0, which ends the list"
        b.blocked = "data offset 0 ends the block list here"
    elseif b.start - 1 + b.count > STORE_SIZE then
        b.blocked = "runs past the end of the store (port 35 ch 511)"
    elseif b.offset > data_length or b.encoded > data_length - b.offset then
        b.blocked = "its data (" .. b.encoded .. " bytes at data offset " .. b.offset ..
            ") lie outside the datagram's " .. data_length .. " data bytes"
    end
    b.inside = b.offset <= data_length and b.encoded <= data_length - b.offset
    return b
end

-- The subtree of one block, with the fields of its table slot.
local function add_block_tree(tree, tvb, b, applies)
    local range = tvb(b.start_at, 2)
    if b.inside and b.encoded > 0 then
        range = tvb(BLOCK_DATA + b.offset, b.encoded)
    end
    local sub = tree:add(f.block, range)
    local port, channel = locate(b.start)
    sub:set_text("Block " .. b.index .. ": " .. b.count .. " levels at port " .. port .. " ch " ..
        channel .. ", " .. (b.coded and "coded" or "raw") .. (applies and "" or ", ignored"))
    add_generated(sub, f.block_index, b.index)
    sub:add_le(f.block_start, tvb(b.start_at, 2))
    sub:add_le(f.block_count, tvb(b.count_at, 2))
    sub:add_le(f.block_offset, tvb(b.offset_at, 2))
    sub:add(f.block_encoded, tvb(b.offset_at, 4), b.encoded)
    add_generated(sub, f.block_coded, b.coded)
    add_generated(sub, f.block_applied, applies)
    add_generated(sub, f.block_port, port)
    add_generated(sub, f.block_channel, channel)
    return sub
end

-- The levels that the driver writes for an applied block; returns how many.
local function add_block_levels(sub, tvb, b)
    local at = BLOCK_DATA + b.offset
    if not b.coded then
        add_levels(sub, f.block_levels, tvb, at, b.count)
        return b.count
    end
    local room = STORE_SIZE - (b.start - 1)
    local bytes, read, total, cut = decode_run_length(tvb, at, b.encoded, b.count, room)
    add_decoded(sub, f.block_levels, bytes, "Block " .. b.index .. " levels")
    note_decode(sub, b.index, b.count, bytes:len(), read, total, b.encoded, cut, room)
    return bytes:len()
end

local function dissect_block(tvb, length, tree, dropped)
    local why = dropped
    if why == nil and length < BLOCK_DATA then
        why = "shorter than its " .. BLOCK_DATA .. "-byte header"
    end
    local shown, applied, coded, ignored = 0, 0, 0, 0
    local first_port, last_port, first_reason, ended
    for i = 0, (length >= BLOCK_DATA and MAX_BLOCKS or 0) - 1 do
        local b = read_block(tvb, i, length - BLOCK_DATA, ended)
        ended = b.ended
        if b.start ~= 0 then
            local applies = b.blocked == nil and why == nil
            local sub = add_block_tree(tree, tvb, b, applies)
            shown = shown + 1
            if applies then
                applied = applied + 1
                coded = coded + (b.coded and 1 or 0)
                local written = add_block_levels(sub, tvb, b)
                local first = locate(b.start)
                local last = written > 0 and locate(b.start + written - 1) or first
                first_port = math.min(first_port or first, first)
                last_port = math.max(last_port or last, last)
            elseif why == nil then
                ignored = ignored + 1
                first_reason = first_reason or ("block " .. i .. ": " .. b.blocked)
                sub:add_proto_expert_info(e.block_ignored, "Block " .. i ..
                    " ignored by the driver: " .. b.blocked)
            end
        end
    end
    if why == nil and applied == 0 then
        why = first_reason or ended
    end

    add_generated(tree, f.applied, why == nil)
    if why ~= nil then
        tree:add_proto_expert_info(e.ignored, "Ignored by the driver: " .. why)
        return "Block: " .. shown .. (shown == 1 and " block" or " blocks") .. " (ignored: " ..
            why .. ")"
    end
    local ports = first_port == last_port and ("port " .. first_port)
        or ("ports " .. first_port .. "-" .. last_port)
    local summary = "Block: " .. applied .. (applied == 1 and " block" or " blocks") .. ", " ..
        ports .. ", " .. coded .. " coded"
    if ignored > 0 then
        summary = summary .. ", " .. ignored .. " ignored"
    end
    return summary
end

function proto.dissector(tvb, pinfo, tree)
    local length = tvb:reported_length_remaining()
    pinfo.cols.protocol = "LXDRAVIK"
    local root = tree:add(proto, tvb())
    if tvb:len() < length then
        root:add_proto_expert_info(e.note, "The capture holds only " .. tvb:len() .. " of the " ..
            length .. " bytes of this datagram: not judged")
        pinfo.cols.info = "Datagram cut off by the capture (" .. length .. " bytes)"
        return
    end
    local dropped = receive_verdict(length)
    if length < 2 then
        add_generated(root, f.applied, false)
        local why = dropped or "shorter than its 2-byte kind"
        root:add_proto_expert_info(e.ignored, "Ignored by the driver: " .. why)
        pinfo.cols.info = "Datagram of " .. length .. (length == 1 and " byte" or " bytes") ..
            " (ignored: " .. why .. ")"
        return
    end
    local kind = tvb(0, 2):uint()
    root:add(f.kind, tvb(0, 2))
    local summary
    if kind == LEVEL_KIND then
        summary = dissect_level(tvb, length, root, dropped)
    elseif kind == BLOCK_KIND then
        summary = dissect_block(tvb, length, root, dropped)
    else
        add_generated(root, f.applied, false)
        local why = dropped or "not a level or block packet"
        root:add_proto_expert_info(e.ignored, "Ignored by the driver: " .. why)
        summary = string.format("Unknown kind 0x%04X (ignored: %s)", kind, why)
    end
    root:append_text(", " .. summary)
    pinfo.cols.info = summary
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(UDP_PORT, proto)
udp_port:add_for_decode_as(proto)
