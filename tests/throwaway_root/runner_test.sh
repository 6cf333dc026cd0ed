#!/usr/bin/env bash
# The throwaway root, tried on the real machine: whatever the command does
# inside, the machine keeps its files and nothing the command started outlives
# it. Usage: runner_test.sh RUNNER PROBE (PROBE: the probe_test binary).
set -uo pipefail
runner=$1 probe=$2
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ((EUID != 0)); then
  echo "skipped: the throwaway root needs root"
  exit 77
fi
out=$("$runner" true 2>&1)
status=$?
if ((status == 77)); then
  echo "$out"
  exit 77
fi
((status == 0)) || { echo "FAIL: the runner did not run true (status $status): $out"; exit 1; }
# The refusals below are checked for their skip status, which CI turns into 1.
unset TAVO_THROWAWAY_ROOT_REQUIRED

work=$(mktemp -d /tmp/tavo-runner-test-XXXXXX)
victim=$(mktemp /usr/local/share/tavo-runner-test-XXXXXX)
token=tavo-runner-test-$$-$RANDOM
survivors() { grep -lsz "^TAVO_RUNNER_TEST_TOKEN=$token\$" /proc/[0-9]*/environ; }
clean_up() {
  local environ
  for environ in $(survivors); do  # only with a broken runner
    environ=${environ#/proc/}
    kill -KILL "${environ%/environ}"
  done
  rm -f "$victim"
  rm -rf "$work"
}
trap clean_up EXIT

# Damage done inside stays inside; the command's status comes out.
moved=/etc/hostname
[ -e "$moved" ] || moved=/etc/passwd
moved_sum=$(cksum <"$moved")
etc_before=$(ls -A /etc)
mounts_before=$(cut -d' ' -f5 /proc/self/mountinfo)
# The command damages nothing unless it sees an overlay as "/" and the runner's
# marker, so that even a runner broken so far as to run it on the machine fails
# here harmlessly, also where the machine's own root is an overlay (a container).
damage='
  [ "$(stat -f -c %T /)" = overlayfs ] && [ -f /run/tavo-throwaway-root ] || exit 3
  rm "$1" && mv "$2" /tmp/ && echo written >"/etc/$3" || exit 1
  [ ! -e "$1" ] && [ ! -e "$2" ] || exit 1
  sleep 300 >/dev/null 2>&1 &
  exit 42'
"$runner" -- bash -c 'rm /run/tavo-throwaway-root && bash -c "$1" damage "$2" "$3" "$4"' \
  unmarked "$damage" "$victim" "$moved" "$token"
status=$?
[ "$status" = 3 ] || fail "on an overlay without the marker the command went on (status $status)"
TAVO_RUNNER_TEST_TOKEN=$token "$runner" -- bash -c "$damage" damage "$victim" "$moved" "$token"
status=$?
[ "$status" = 42 ] || fail "exit status $status, not the command's 42"
[ -f "$victim" ] || fail "$victim was deleted on the machine"
[ "$(cksum <"$moved")" = "$moved_sum" ] || fail "$moved was moved or changed on the machine"
[ "$(ls -A /etc)" = "$etc_before" ] || fail "/etc changed on the machine"
[ "$(cut -d' ' -f5 /proc/self/mountinfo)" = "$mounts_before" ] || fail "a mount reached the machine"
[ -z "$(survivors)" ] || fail "a process of the command outlived it"

# Inside: private /tmp, /run, /dev and /dev/shm (the machine's is out of
# reach), and no disk to write to.
shm_file=$(mktemp /dev/shm/tavo-runner-test-XXXXXX)
layout=$("$runner" -- bash -c 'stat -f -c %T / /tmp /run /dev /dev/shm; ls -A /tmp /run /dev/shm; find /dev -type b')
rm -f "$shm_file"
expected_layout=$(printf '%s\n' overlayfs tmpfs tmpfs tmpfs tmpfs /dev/shm: '' /run: lock tavo-throwaway-root '' /tmp:)
[ "$layout" = "$expected_layout" ] || fail "inside looks like this: $layout"

# Killed from outside (a CTest timeout), it takes its processes with it.
TAVO_RUNNER_TEST_TOKEN=$token "$runner" --bind "$work" -- \
  bash -c 'sleep 300 >/dev/null 2>&1 & touch "$1/started"; wait' started "$work" &
runner_pid=$!
for _ in $(seq 100); do [ -e "$work/started" ] && break; sleep 0.1; done
[ -e "$work/started" ] || fail "the killed-runner command never started"
kill -KILL "$runner_pid"
wait "$runner_pid" 2>/dev/null
for _ in $(seq 50); do [ -z "$(survivors)" ] && break; sleep 0.1; done
[ -z "$(survivors)" ] || fail "a process outlived the killed runner"

# Arguments arrive unchanged, never re-read by a shell, with or without "--".
args=('a b' "it's" '"quoted"' '$(echo expanded)' '*' '' --bind $'two\nlines' '\')
expected=$(printf '[%s]\n' "${args[@]}")
[ "$("$runner" -- printf '[%s]\n' "${args[@]}")" = "$expected" ] || fail "arguments changed after --"
[ "$("$runner" printf '[%s]\n' "${args[@]}")" = "$expected" ] || fail "arguments changed without --"

# Bound folders are the machine's own; the working folder follows into them.
mkdir "$work/sub"
while read -r bind from expected_pwd; do
  got=$(cd "$from" && "$runner" --bind "$work" -- pwd)
  [ "$got" = "$expected_pwd" ] || fail "started in $from with --bind $bind: inside in $got"
done <<ROWS
$work $work $work
$work $work/sub $work/sub
$work /usr /
ROWS
"$runner" --bind "$work" -- touch "$work/written-inside"
[ -e "$work/written-inside" ] || fail "a file written in a --bind folder did not come through"
"$runner" --ro-bind "$work" -- touch "$work/ro" 2>/dev/null && fail "--ro-bind folder was writable"

# Where it cannot start or is misused: one line, the right status, no command run.
mkdir "$work/empty-path"
while IFS='|' read -r want prefix cmd; do
  err=$(eval "$cmd" 2>&1 >/dev/null)
  got=$?
  lines=$(printf '%s\n' "$err" | wc -l)
  # A refused start says why in exactly one line; misuse adds the usage line.
  [[ $got == "$want" && $err == "$prefix"* && ($want != 77 || $lines == 1) ]] ||
    fail "$cmd: status $got (want $want), stderr: $err"
done <<'ROWS'
77|throwaway-root: cannot start: not root|setpriv --reuid=65534 --regid=65534 --clear-groups "$BASH" -s touch "$work/ran" <"$runner"
77|throwaway-root: cannot start: no unshare|PATH="$work/empty-path" "$BASH" "$runner" touch "$work/ran"
2|throwaway-root: no command|"$runner" --bind "$work"
2|throwaway-root: --bind needs an absolute|"$runner" --bind relative touch "$work/ran"
2|throwaway-root: --bind /:|"$runner" --bind / touch "$work/ran"
2|throwaway-root: --bind: no such folder|"$runner" --bind "$work/missing" touch "$work/ran"
ROWS
[ ! -e "$work/ran" ] || fail "a refused start ran its command"

# The guard of root-level tests: the body runs only inside.
probe_dir=$(dirname "$probe")
while IFS='|' read -r want cmd; do
  out=$(eval "$cmd" 2>&1)
  grep -q "body ran" <<<"$out" && got=ran || got=skipped
  [ "$got" = "$want" ] || fail "$cmd: the guarded body $got"
done <<'ROWS'
skipped|"$probe"
skipped|TAVO_THROWAWAY_ROOT=1 "$probe"
ran|"$runner" --bind "$probe_dir" -- "$probe"
skipped|"$runner" --bind "$probe_dir" -- env -u TAVO_THROWAWAY_ROOT "$probe"
skipped|"$runner" --bind "$probe_dir" -- bash -c 'rm /run/tavo-throwaway-root && "$1"' probe "$probe"
ROWS

((failures == 0)) || exit 1
echo "throwaway root: all checks passed"
