# Sourced by the package checks (check_package.sh, check_windows.sh): a scratch folder that goes
# with the script, and the count of failed checks that decides its status.
failures=0
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}
