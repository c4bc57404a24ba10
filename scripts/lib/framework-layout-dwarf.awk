# Reads `readelf --debug-dump=info` of one object file and prints the layout
# the compiler gave the classes named in CLASSES (space-separated), one fact
# a line, in the order the compiler recorded them:
#
#   class NAME SIZE              size in bytes
#   base NAME BASE OFFSET        a base class at that offset
#   member NAME FIELD OFFSET SIZE
#   slot NAME INDEX LINKAGE      a virtual operation and its virtual-table slot
#   missing NAME                 no definition of NAME in the object
#
# LINKAGE is the mangled name (c++filt turns it into the signature). A virtual
# destructor has no slot in the debug information and is not listed.
#
#   awk -v CLASSES="SMDSPDevice SPModbus" -f framework-layout-dwarf.awk dump.txt

function value_after_colon(text) {
    sub(/^[^:]*: */, "", text)
    return text
}

# A string attribute, without readelf's "(indirect string, offset: 0x..): ".
function string_value(text) {
    text = value_after_colon(text)
    sub(/^\([^)]*\): /, "", text)
    return text
}

function reference_value(text) {
    text = value_after_colon(text)
    gsub(/[<>]/, "", text)
    sub(/^0x0*/, "", text)
    return text
}

# A constant, or the number of a location expression's one operation
# (DW_OP_plus_uconst: 96 / DW_OP_constu: 23) as older DWARF versions write it.
function number_value(text) {
    if (match(text, /\(DW_OP_[a-z_]+: [0-9]+\)/)) {
        text = substr(text, RSTART, RLENGTH - 1)
        sub(/^.*: /, "", text)
        return text + 0
    }
    text = value_after_colon(text)
    sub(/[ \t].*$/, "", text)
    if (text ~ /^0x/)
        return hex_number(substr(text, 3))
    return text + 0
}

function hex_number(digits,    n, i) {
    n = 0
    digits = tolower(digits)
    for (i = 1; i <= length(digits); i++)
        n = n * 16 + index("0123456789abcdef", substr(digits, i, 1)) - 1
    return n
}

# Bytes taken by the type at DIE offset T: its own size, or that of the type
# it qualifies or renames, or for an array its element's times its length.
function type_size(t,    tag, n, i, child, count) {
    if (t == "")
        return "?"
    if ((t, "byte_size") in attr)
        return attr[t, "byte_size"]
    tag = die_tag[t]
    if (tag == "DW_TAG_typedef" || tag == "DW_TAG_const_type" || tag == "DW_TAG_volatile_type" ||
        tag == "DW_TAG_restrict_type" || tag == "DW_TAG_atomic_type")
        return type_size(attr[t, "type"])
    if (tag == "DW_TAG_array_type") {
        n = type_size(attr[t, "type"])
        if (n == "?")
            return "?"
        for (i = 1; i <= child_count[t]; i++) {
            child = children[t, i]
            if ((child, "count") in attr)
                count = attr[child, "count"]
            else if ((child, "upper_bound") in attr)
                count = attr[child, "upper_bound"] + 1
            else
                return "?"
            n *= count
        }
        return n
    }
    return "?"
}

BEGIN {
    n = split(CLASSES, wanted_list, " ")
    for (i = 1; i <= n; i++)
        wanted[wanted_list[i]] = 1
}

# A DIE: " <depth><offset>: Abbrev Number: N (DW_TAG_...)"; number 0 ends a
# list of children.
/^ *<[0-9]+><[0-9a-f]+>: Abbrev Number: / {
    line = $0
    sub(/^ *</, "", line)
    depth = line
    sub(/>.*/, "", depth)
    depth += 0
    offset = line
    sub(/^[0-9]+></, "", offset)
    sub(/>.*/, "", offset)
    sub(/^0*/, "", offset)
    if (!match(line, /\(DW_TAG_[a-z_]+\)/)) {
        current = ""
        next
    }
    current = offset
    die_tag[current] = substr(line, RSTART + 1, RLENGTH - 2)
    die_depth[current] = depth
    at_depth[depth] = current
    if (depth > 0) {
        parent = at_depth[depth - 1]
        child_count[parent]++
        children[parent, child_count[parent]] = current
    }
    die_order[++die_total] = current
    next
}

current != "" && /^ *<[0-9a-f]+> +DW_AT_/ {
    line = $0
    sub(/^ *<[0-9a-f]+> +/, "", line)
    name = line
    sub(/[ :].*$/, "", name)
    if (name == "DW_AT_name")
        attr[current, "name"] = string_value(line)
    else if (name == "DW_AT_linkage_name" || name == "DW_AT_MIPS_linkage_name")
        attr[current, "linkage"] = string_value(line)
    else if (name == "DW_AT_type")
        attr[current, "type"] = reference_value(line)
    else if (name == "DW_AT_byte_size")
        attr[current, "byte_size"] = number_value(line)
    else if (name == "DW_AT_data_member_location")
        attr[current, "offset"] = number_value(line)
    else if (name == "DW_AT_vtable_elem_location")
        attr[current, "slot"] = number_value(line)
    else if (name == "DW_AT_upper_bound")
        attr[current, "upper_bound"] = number_value(line)
    else if (name == "DW_AT_count")
        attr[current, "count"] = number_value(line)
    else if (name == "DW_AT_declaration")
        attr[current, "declaration"] = 1
    else if (name == "DW_AT_external")
        attr[current, "external"] = 1
    else if (name == "DW_AT_bit_size")
        attr[current, "bit_size"] = number_value(line)
}

END {
    for (i = 1; i <= die_total; i++) {
        d = die_order[i]
        tag = die_tag[d]
        if (die_depth[d] != 1 || !((d, "name") in attr) || (d, "declaration") in attr)
            continue
        if (tag != "DW_TAG_class_type" && tag != "DW_TAG_structure_type" && tag != "DW_TAG_union_type")
            continue
        name = attr[d, "name"]
        if (!(name in wanted) || (name in found))
            continue
        found[name] = d
    }
    for (w = 1; w <= n; w++) {
        name = wanted_list[w]
        if (!(name in found)) {
            print "missing", name
            continue
        }
        d = found[name]
        print "class", name, attr[d, "byte_size"]
        for (c = 1; c <= child_count[d]; c++) {
            child = children[d, c]
            tag = die_tag[child]
            if (tag == "DW_TAG_inheritance") {
                print "base", name, attr[attr[child, "type"], "name"], attr[child, "offset"] + 0
            } else if (tag == "DW_TAG_member" && !((child, "external") in attr) &&
                       !((child, "declaration") in attr)) {
                size = type_size(attr[child, "type"])
                if ((child, "bit_size") in attr)
                    size = attr[child, "bit_size"] "-bit"
                print "member", name, attr[child, "name"], attr[child, "offset"] + 0, size
            } else if (tag == "DW_TAG_subprogram" && (child, "slot") in attr) {
                print "slot", name, attr[child, "slot"], attr[child, "linkage"]
            }
        }
    }
}
