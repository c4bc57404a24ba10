# Writes the layout file of the framework classes and compares it with
# framework/'s. Input: the lines of framework-layout-dwarf.awk, demangled,
# each prefixed with "used" (the headers qvt7702.so is built against) or
# "own" (framework/; none when those are the headers used).
#
#   awk -v CLASSES="..." -v HEADERS="label" -v OUTPUT=file -f framework-layout-compare.awk
#
# Prints one "framework layout: error: ..." line to standard error for each
# virtual-table slot that holds another operation than in framework/, and
# exits 1 without writing OUTPUT. Every other difference (sizes, bases, data
# members) is listed at the end of OUTPUT.

# The operation without the class that declares it: "RefreshStatus()".
function operation(signature,    head, rest, cut) {
    cut = index(signature, "(")
    if (cut == 0)
        return signature
    head = substr(signature, 1, cut - 1)
    rest = substr(signature, cut)
    while (match(head, /::/))
        head = substr(head, RSTART + 2)
    return head rest
}

function place(offset, size) {
    return "offset " offset " (" size (size == 1 ? " byte)" : " bytes)")
}

function add_difference(text) {
    differences[++difference_count] = text
}

{
    side = $1
    kind = $2
    name = $3
    if (kind == "missing") {
        missing[side, name] = 1
    } else if (kind == "class") {
        size[side, name] = $4
        defined[side, name] = 1
    } else if (kind == "base") {
        bases[side, name] = bases[side, name] (bases[side, name] == "" ? "" : ", ") $4 " at " $5
        if ($5 == 0)
            primary[side, name] = $4
    } else if (kind == "member") {
        field = $4
        member_place[side, name, field] = place($5, $6)
        if (!((side, name, field) in member_seen)) {
            member_seen[side, name, field] = 1
            members[side, name] = members[side, name] " " field
        }
        lines[side, name] = lines[side, name] "\n  member " field ": " place($5, $6)
    } else if (kind == "slot") {
        signature = $0
        sub(/^[^ ]+ [^ ]+ [^ ]+ [^ ]+ /, "", signature)
        own_slot[side, name, $4] = operation(signature)
        if ($4 + 1 > own_slots[side, name])
            own_slots[side, name] = $4 + 1
        lines[side, name] = lines[side, name] "\n  slot " $4 ": " operation(signature)
    }
    if (side == "own")
        compared = 1
}

# Every slot of the class's virtual table: its primary base's, then its own.
function fill_slots(side, name,    base, i, count) {
    if ((side, name) in slot_total)
        return
    count = 0
    base = primary[side, name]
    if (base != "") {
        fill_slots(side, base)
        count = slot_total[side, base]
        for (i = 0; i < count; i++)
            if ((side, base, i) in slot)
                slot[side, name, i] = slot[side, base, i]
    }
    for (i = 0; i < own_slots[side, name]; i++)
        if ((side, name, i) in own_slot)
            slot[side, name, i] = own_slot[side, name, i]
    if (own_slots[side, name] > count)
        count = own_slots[side, name]
    slot_total[side, name] = count
}

function described(side, name) {
    return size[side, name] " bytes" (bases[side, name] == "" ? "" : " with base " bases[side, name])
}

END {
    class_count = split(CLASSES, class_list, " ")
    text = "# The layout of the framework classes qvt7702.so derives from or calls through, as\n" \
           "# the compiler records it in the debug information of plugin/FrameworkLayoutProbe.cpp\n" \
           "# compiled against these headers. Virtual destructors have no slot there.\n" \
           "headers: " HEADERS "\n"
    for (c = 1; c <= class_count; c++) {
        name = class_list[c]
        if (("used", name) in defined)
            text = text "class " name ": " described("used", name) lines["used", name] "\n"
        else
            text = text "class " name ": not defined\n"
    }

    errors = 0
    for (c = 1; compared && c <= class_count; c++) {
        name = class_list[c]
        if (!(("used", name) in defined) || !(("own", name) in defined)) {
            if ((("used", name) in defined) != (("own", name) in defined))
                add_difference(name ": " ((("used", name) in defined) ? "defined" : "not defined") \
                               " in the headers used, " \
                               ((("own", name) in defined) ? "defined" : "not defined") " in framework/")
            continue
        }
        if (described("used", name) != described("own", name))
            add_difference(name ": " described("used", name) " in the headers used, " \
                           described("own", name) " in framework/")

        fill_slots("used", name)
        fill_slots("own", name)
        total = slot_total["used", name]
        if (slot_total["own", name] > total)
            total = slot_total["own", name]
        for (i = 0; i < total; i++) {
            used_op = (("used", name, i) in slot) ? slot["used", name, i] : "no recorded operation"
            own_op = (("own", name, i) in slot) ? slot["own", name, i] : "no recorded operation"
            if (used_op == own_op || ((i, used_op, own_op) in told))
                continue
            # A slot inherited by a class below is told once, for the class
            # that has it first.
            told[i, used_op, own_op] = 1
            printf "framework layout: error: %s virtual-table slot %d is %s in the headers used (%s) " \
                   "but %s in framework/, the order the driver is built and tested for\n",
                   name, i, used_op, HEADERS, own_op > "/dev/stderr"
            errors++
        }

        count = split(members["own", name], own_fields, " ")
        for (f = 1; f <= count; f++) {
            field = own_fields[f]
            if (!(("used", name, field) in member_place))
                add_difference(name "::" field ": not in the headers used, " \
                               member_place["own", name, field] " in framework/")
            else if (member_place["used", name, field] != member_place["own", name, field])
                add_difference(name "::" field ": " member_place["used", name, field] \
                               " in the headers used, " member_place["own", name, field] " in framework/")
        }
        count = split(members["used", name], used_fields, " ")
        for (f = 1; f <= count; f++) {
            field = used_fields[f]
            if (!(("own", name, field) in member_place))
                add_difference(name "::" field ": " member_place["used", name, field] \
                               " in the headers used, not in framework/")
        }
    }
    if (errors > 0)
        exit 1

    if (!compared)
        text = text "differences from framework/: none (the headers are framework/)\n"
    else if (difference_count == 0)
        text = text "differences from framework/: none\n"
    else {
        text = text "differences from framework/ (" difference_count "):\n"
        for (i = 1; i <= difference_count; i++)
            text = text "  " differences[i] "\n"
    }
    printf "%s", text > OUTPUT
}
