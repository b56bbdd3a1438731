-- Wireshark dissector for the datagrams that lxdravik drains from UDP port
-- 2501: level packets (kind 0x202F) and block packets (kind 0x808F). Every
-- datagram and every block is judged by the rules of the driver's intake
-- (intake/datagram.cpp, protocol/run_length.cpp, and the receive's size limit),
-- after what decides whether the driver receives it at all: IPv4, the
-- driver's port, not a copy quoted in an ICMP error, a whole datagram.
-- lxdravik.applied says whether the driver takes the datagram into a write,
-- lxdravik.written how many levels it writes, and an expert warning says why
-- it takes nothing. Coded blocks are decoded into the levels that the driver
-- writes.
--
-- Install: copy this file into the personal Lua plugins folder
-- (~/.local/lib/wireshark/plugins/ on Linux, %APPDATA%\Wireshark\plugins\ on
-- Windows), or run tshark -X lua_script:lxdravik.lua.

local proto = Proto("lxdravik", "lxdravik lighting datagram")

local DRIVER_PORT = 2501
local RECEIVE_LIMIT = 1316 -- longer datagrams are discarded whole on receive
local STORE_SIZE = 18432 -- 36 ports x 512 channels
local CHANNELS = 512
local LEVEL_KIND = 0x202F
local BLOCK_KIND = 0x808F
local LEVEL_DATA = 66
local LEVEL_HEADER = 16 -- kind, count and start: all a level packet's verdict reads
local MAX_LEVELS = 1024
local BLOCK_DATA = 36
local MAX_BLOCKS = 4

local byte, sub, rep, concat = string.byte, string.sub, string.rep, table.concat

local kind_names = { [LEVEL_KIND] = "Level packet", [BLOCK_KIND] = "Block packet" }

local f = {
    kind = ProtoField.uint16("lxdravik.kind", "Kind", base.HEX, kind_names),
    applied = ProtoField.bool("lxdravik.applied", "Applied by the driver"),
    written = ProtoField.uint32("lxdravik.written", "Levels written by the driver", base.DEC),
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
    block_written = ProtoField.uint16("lxdravik.block.written", "Levels written by the driver",
        base.DEC),
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
    nothing = ProtoExpert.new("lxdravik.writes_nothing", "Applied, but no level is written",
        expert.group.PROTOCOL, expert.severity.WARN),
    code_cut = ProtoExpert.new("lxdravik.block.code_cut", "Code cut off by the end of its data",
        expert.group.MALFORMED, expert.severity.WARN),
    fragment = ProtoExpert.new("lxdravik.fragment", "IP fragment: not judged",
        expert.group.REASSEMBLE, expert.severity.NOTE),
    capture_cut = ProtoExpert.new("lxdravik.capture_cut", "Datagram cut short by the capture",
        expert.group.UNDECODED, expert.severity.NOTE),
    note = ProtoExpert.new("lxdravik.note", "How the driver takes the data",
        expert.group.PROTOCOL, expert.severity.NOTE),
}
proto.experts = { e.ignored, e.block_ignored, e.nothing, e.code_cut, e.fragment, e.capture_cut,
    e.note }

local LEVELS_DECIMAL, LEVELS_PERCENT, LEVELS_HEX = 0, 1, 2
proto.prefs.port = Pref.uint("Driver's UDP port", DRIVER_PORT,
    "The port the driver listens on; datagrams to any other port are shown as not received " ..
    "(set it to the translated port when the capture is taken behind address translation)")
proto.prefs.levels = Pref.enum("Levels shown as", LEVELS_HEX,
    "How the levels are written out in the packet details: hexadecimal as the bytes stand, " ..
    "or decimal or percent in rows of 16 (which takes longer on large captures)", {
        { 1, "Decimal", LEVELS_DECIMAL },
        { 2, "Percent", LEVELS_PERCENT },
        { 3, "Hexadecimal", LEVELS_HEX },
    }, false)

local ip_version = Field.new("ip.version")
local udp_length = Field.new("udp.length")

-- Port and channel of a 1-based store address; nil outside the store.
local function locate(address)
    if address < 1 or address > STORE_SIZE then
        return nil
    end
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

local function plural(n, word)
    return number(n) .. " " .. word .. (n == 1 and "" or "s")
end

-- The last value of a field in this frame (the innermost header), or nil.
local function last_value(field)
    local values = { field() }
    local last = values[#values]
    return last and last.value
end

-- Why the driver never receives this datagram, or nil when it can.
local function delivery_verdict(pinfo, length)
    if pinfo.in_error_pkt then
        return "not received (quoted in an ICMP error)"
    elseif pinfo.dst_port ~= proto.prefs.port then
        return "not for the driver's port"
    elseif last_value(ip_version) == 6 then
        return "the driver listens on IPv4 only"
    end
    local udp = last_value(udp_length)
    if udp and udp - 8 > length then
        return "bad length"
    end
    return nil
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

-- Decodes the run-length code in the string `code` as the driver does for a
-- block of `expected` levels with `room` bytes left in the store. Returns the
-- bytes written (a string), the code bytes read, the sum of the code counts,
-- and whether the last code was cut off by the end of the code (and so not
-- written). Works a code at a time, with whole-string operations.
local function decode_run_length(code, expected, room)
    local out, pieces = {}, 0
    local length = #code
    local read, total, written, cut = 0, 0, 0, false
    while read < length do
        local control = byte(code, read + 1)
        read = read + 1
        local n = control % 128
        local fit = room - total
        fit = fit < 0 and 0 or (fit < n and fit or n)
        if control >= 128 then
            if read == length then
                cut = true
                break
            end
            if fit > 0 then
                pieces = pieces + 1
                out[pieces] = rep(sub(code, read + 1, read + 1), fit)
            end
            read = read + 1
        else
            if length - read < n then
                cut = true
                break
            end
            if fit > 0 then
                pieces = pieces + 1
                out[pieces] = sub(code, read + 1, read + fit)
            end
            read = read + n
        end
        written = written + fit
        total = total + n
        if total >= expected then
            break
        end
    end
    return concat(out, "", 1, pieces), read, total, cut
end

local function add_generated(tree, field, value)
    local item = tree:add(field, value)
    item:set_generated()
    return item
end

-- Each level written out at a fixed width, so that a row is one substring.
local function level_table(format)
    local t = {}
    for v = 0, 255 do
        t[string.char(v)] = format(v)
    end
    return t
end
local level_styles = {
    [LEVELS_DECIMAL] = { name = "decimal", width = 4,
        words = level_table(function(v) return string.format("%3d ", v) end) },
    [LEVELS_PERCENT] = { name = "percent", width = 5,
        words = level_table(function(v)
            return string.format("%3d%% ", math.floor(v * 100 / 255 + 0.5))
        end) },
}
local ROW = 16

-- Writes the levels out in decimal or percent, 16 to a row under the item.
-- Hexadecimal is the field's own form and costs nothing; the rows cost time
-- (tshark -T fields builds the tree of every frame), so only where asked for.
local function describe_levels(item, levels, start)
    local style = level_styles[proto.prefs.levels]
    if style == nil or #levels == 0 or not item.visible then
        return
    end
    local n, width = #levels, style.width
    local text = levels:gsub(".", style.words)
    item:set_text("Levels (" .. plural(n, "level") .. ", " .. style.name .. "): " ..
        sub(text, 1, math.min(n, ROW) * width - 1) .. (n > ROW and " ..." or ""))
    for first = 0, n - 1, ROW do
        local port, channel = locate(start + first)
        item:add(string.format("Port %2d ch %3d: %s", port or 0, channel or 0,
            sub(text, first * width + 1, math.min(n, first + ROW) * width - 1)))
    end
end

-- Levels that the driver writes straight from the datagram, as far as the
-- capture holds them. A write of no level still gets the field, empty.
local function add_levels(tree, field, tvb, at, count, start)
    local present = math.min(count, math.max(tvb:len() - at, 0))
    if present == 0 then
        return add_generated(tree, field, "")
    end
    local item = tree:add(field, tvb:range(at, present))
    if level_styles[proto.prefs.levels] then
        describe_levels(item, tvb:raw(at, present), start)
    end
    return item
end

-- Decoded levels (a string), shown in a tab of their own.
local function add_decoded(tree, field, levels, label, start)
    if #levels == 0 then
        return add_generated(tree, field, "")
    end
    local item = tree:add(field, ByteArray.new(levels, true):tvb(label):range())
    describe_levels(item, levels, start)
    return item
end

-- The fields every judged datagram ends with: applied, written, and the
-- warning `nothing` when a datagram taken writes nothing.
local function add_verdict(tree, why, written, nothing)
    add_generated(tree, f.applied, why == nil)
    if why ~= nil then
        tree:add_proto_expert_info(e.ignored, "Ignored by the driver: " .. why)
        written = 0
    elseif written == 0 and nothing then
        tree:add_proto_expert_info(e.nothing, nothing)
    end
    if written then
        add_generated(tree, f.written, written)
    end
end

-- The note on a datagram that the capture holds only part of.
local function note_capture_cut(tree, tvb, length, what)
    tree:add_proto_expert_info(e.capture_cut, "The capture holds only " .. number(tvb:len()) ..
        " of the " .. number(length) .. " bytes of this datagram: " .. what)
end

local function dissect_level(c, tree)
    local tvb, length = c.tvb, c.length
    local captured = tvb:len()
    local summary = "Level:"
    local count, start
    if captured >= 10 then
        count = tvb(8, 2):uint()
        tree:add(f.level_count, tvb(8, 2))
        summary = summary .. " " .. count .. (count == 1 and " level" or " levels")
    end
    if captured >= LEVEL_HEADER then
        start = tvb(12, 4):uint()
        tree:add(f.level_start, tvb(12, 4))
        local port, channel = locate(start)
        if port then
            add_generated(tree, f.level_port, port)
            add_generated(tree, f.level_channel, channel)
            summary = summary .. " at port " .. port .. " ch " .. channel
        else
            summary = summary .. " at address " .. number(start)
        end
    end

    local why
    if length < LEVEL_DATA then
        why = "shorter than its " .. LEVEL_DATA .. "-byte header"
    elseif captured < LEVEL_HEADER then
        if c.dropped == nil then
            note_capture_cut(tree, tvb, length, "too little of the header to judge it")
            return summary .. " (not judged: cut short by the capture)"
        end
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
    if why == nil and count ~= nil and not c.discarded then
        add_levels(tree, f.level_levels, tvb, LEVEL_DATA, count, start)
        if captured < LEVEL_DATA + count then
            note_capture_cut(tree, tvb, length, "the levels past it are not shown")
        end
    end
    why = c.dropped or why
    add_verdict(tree, why, count,
        "Level count 0: the driver takes the packet but writes no level")
    if why ~= nil then
        return summary .. " (ignored: " .. why .. ")"
    end
    return summary
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
    local at = BLOCK_DATA + b.offset
    if b.inside and b.encoded > 0 and at < tvb:len() then
        range = tvb(at, math.min(b.encoded, tvb:len() - at))
    end
    local sub = tree:add(f.block, range)
    local port, channel = locate(b.start)
    sub:set_text("Block " .. b.index .. ": " .. b.count .. " levels at " ..
        (port and ("port " .. port .. " ch " .. channel) or ("address " .. b.start)) .. ", " ..
        (b.coded and "coded" or "raw") .. (applies and "" or ", ignored"))
    add_generated(sub, f.block_index, b.index)
    sub:add_le(f.block_start, tvb(b.start_at, 2))
    sub:add_le(f.block_count, tvb(b.count_at, 2))
    sub:add_le(f.block_offset, tvb(b.offset_at, 2))
    sub:add(f.block_encoded, tvb(b.offset_at, 4), b.encoded)
    add_generated(sub, f.block_coded, b.coded)
    add_generated(sub, f.block_applied, applies)
    if port then
        add_generated(sub, f.block_port, port)
        add_generated(sub, f.block_channel, channel)
    end
    return sub
end

-- The levels that the driver writes for a block whose contents it takes;
-- returns how many (nil when the capture holds too little of the code to
-- tell).
local function add_block_levels(sub, tvb, b)
    local at = BLOCK_DATA + b.offset
    if not b.coded then
        add_levels(sub, f.block_levels, tvb, at, b.count, b.start)
        return b.count, tvb:len() < at + b.count
    end
    local room = STORE_SIZE - (b.start - 1)
    local present = math.min(b.encoded, math.max(tvb:len() - at, 0))
    local code = present > 0 and tvb:raw(at, present) or ""
    local levels, read, total, cut = decode_run_length(code, b.count, room)
    add_decoded(sub, f.block_levels, levels, "Block " .. b.index .. " levels", b.start)
    if present < b.encoded and total < b.count then
        return nil, true -- the decode stopped at the capture's end, not the code's
    end
    note_decode(sub, b.index, b.count, #levels, read, total, b.encoded, cut, room)
    return #levels, false
end

local function dissect_block(c, tree)
    local tvb, length = c.tvb, c.length
    local captured = tvb:len()
    local why
    if length < BLOCK_DATA then
        why = "shorter than its " .. BLOCK_DATA .. "-byte header"
    elseif captured < BLOCK_DATA and c.dropped == nil then
        note_capture_cut(tree, tvb, length, "too little of the block table to judge it")
        return "Block: (not judged: cut short by the capture)"
    end
    local shown, applied, coded, ignored, written, cut_short = 0, 0, 0, 0, 0, false
    local first_port, last_port, first_reason, ended
    for i = 0, (captured >= BLOCK_DATA and MAX_BLOCKS or 0) - 1 do
        local b = read_block(tvb, i, length - BLOCK_DATA, ended)
        ended = b.ended
        if b.start ~= 0 then
            local taken = b.blocked == nil and why == nil and not c.discarded
            local applies = taken and c.dropped == nil
            local sub = add_block_tree(tree, tvb, b, applies)
            shown = shown + 1
            if taken then
                coded = coded + (b.coded and 1 or 0)
                local n, short = add_block_levels(sub, tvb, b)
                cut_short = cut_short or short
                if applies then
                    applied = applied + 1
                    if n == nil then
                        written = nil
                    else
                        add_generated(sub, f.block_written, n)
                        written = written and written + n
                        if n == 0 then
                            sub:add_proto_expert_info(e.nothing, "Block " .. i ..
                                ": applied, but it writes no level")
                        else
                            local first = locate(b.start)
                            local last = locate(b.start + n - 1)
                            first_port = math.min(first_port or first, first)
                            last_port = math.max(last_port or last, last)
                        end
                    end
                end
            else
                if c.dropped == nil then
                    ignored = ignored + 1
                    first_reason = first_reason or ("block " .. i .. ": " .. b.blocked)
                    sub:add_proto_expert_info(e.block_ignored, "Block " .. i ..
                        " ignored by the driver: " .. b.blocked)
                end
            end
            if not applies then
                add_generated(sub, f.block_written, 0)
            end
        end
    end
    if cut_short then
        note_capture_cut(tree, tvb, length, "the levels past it are not shown")
    end
    if why == nil and c.dropped == nil and applied == 0 then
        why = first_reason or ended
    end
    why = c.dropped or why
    add_verdict(tree, why, written) -- each block that writes nothing has said so
    if why ~= nil then
        return "Block: " .. plural(shown, "block") .. " (ignored: " .. why .. ")"
    end
    local ports = first_port == nil and "no level written"
        or first_port == last_port and ("port " .. first_port)
        or ("ports " .. first_port .. "-" .. last_port)
    local summary = "Block: " .. plural(applied, "block") .. ", " .. ports .. ", " .. coded ..
        " coded"
    if ignored > 0 then
        summary = summary .. ", " .. ignored .. " ignored"
    end
    return summary
end

function proto.dissector(tvb, pinfo, tree)
    local length = tvb:reported_length_remaining()
    pinfo.cols.protocol = "LXDRAVIK"
    local root = tree:add(proto, tvb())
    if pinfo.fragmented then
        root:add_proto_expert_info(e.fragment, "An IP fragment: the datagram is judged only " ..
            "where it is reassembled; turn on IPv4 reassembly (Preferences > Protocols > IPv4 > " ..
            "Reassemble fragmented IPv4 datagrams)")
        pinfo.cols.info = "IP fragment (not judged: turn on IPv4 reassembly)"
        return
    end
    -- A datagram the driver never receives is still decoded; one that its
    -- receive discards whole is not.
    local c = { tvb = tvb, length = length }
    local discarded = receive_verdict(length)
    c.dropped = delivery_verdict(pinfo, length) or discarded
    c.discarded = discarded ~= nil
    if length < 2 or tvb:len() < 2 then
        local why = c.dropped or (length < 2 and "shorter than its 2-byte kind")
        if why then
            add_verdict(root, why)
            pinfo.cols.info = "Datagram of " .. plural(length, "byte") .. " (ignored: " .. why .. ")"
        else
            note_capture_cut(root, tvb, length, "too little to judge it")
            pinfo.cols.info = "Datagram of " .. plural(length, "byte") ..
                " (not judged: cut short by the capture)"
        end
        return
    end
    local kind = tvb(0, 2):uint()
    root:add(f.kind, tvb(0, 2))
    local summary
    if kind == LEVEL_KIND then
        summary = dissect_level(c, root)
    elseif kind == BLOCK_KIND then
        summary = dissect_block(c, root)
    else
        local why = c.dropped or "not a level or block packet"
        add_verdict(root, why)
        summary = string.format("Unknown kind 0x%04X (ignored: %s)", kind, why)
    end
    root:append_text(", " .. summary)
    pinfo.cols.info = summary
end

-- The port in the table follows the preference.
local udp_port = DissectorTable.get("udp.port")
local registered = DRIVER_PORT
udp_port:add(registered, proto)
udp_port:add_for_decode_as(proto)

function proto.prefs_changed()
    if proto.prefs.port ~= registered then
        udp_port:remove(registered, proto)
        registered = proto.prefs.port
        udp_port:add(registered, proto)
    end
end
