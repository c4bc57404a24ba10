# Checks that a run of the project's scripts left the machine's shared device
# nodes as they were. Run as root, a tool that "writes" to /dev/null by
# replacing it leaves a regular file there, and every later apt run fails.
# Usage: check_machine_intact    (non-zero, with a sentence, when damaged)
check_machine_intact() {
    local node status=0
    for node in /dev/null /dev/zero /dev/urandom; do
        if [ ! -c "$node" ]; then
            echo "machine damaged: $node is no longer a character device ($(stat -c %F "$node" 2>/dev/null || echo missing))" >&2
            status=1
        fi
    done
    return $status
}
