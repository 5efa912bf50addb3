# Pass/fail counting shared by the stress and Wine test scripts: each check
# prints one line, a failure its details under it; report ends the script's
# run with the counts and fails when any check failed.

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   - $1"; }
fail() {
    failed=$((failed + 1))
    echo "FAIL - $1"
    shift
    local line
    for line in "$@"; do echo "       $line"; done
}
report() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}
