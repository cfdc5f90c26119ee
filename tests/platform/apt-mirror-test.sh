#!/usr/bin/env bash
# apt-mirror-test.sh SCRIPT: SCRIPT --mirror against made-up apt sources, one
# case per row: the files of /etc/apt and the mirror expected ("-": none, and
# a non-zero exit). The machine is bookworm in every case.
set -uo pipefail
script=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/kro-mirror-XXXXXX")
trap 'rm -rf "$work"' EXIT
echo 'VERSION_CODENAME=bookworm' >"$work/os-release"

failures=0
# check NAME EXPECTED FILE CONTENT [FILE CONTENT...]
check() {
  local name=$1 expected=$2; shift 2
  local etc=$work/$name
  mkdir -p "$etc/sources.list.d"
  while [ $# -ge 2 ]; do printf '%b' "$2" >"$etc/$1"; shift 2; done
  local got status
  got=$(KRO_APT_ETC=$etc KRO_OS_RELEASE=$work/os-release bash "$script" --mirror 2>/dev/null)
  status=$?
  if [ "$expected" = "-" ]; then
    [ $status -ne 0 ] && [ -z "$got" ] && return
  else
    [ $status -eq 0 ] && [ "$got" = "$expected" ] && return
  fi
  echo "FAIL $name: expected '$expected', got '$got' (exit $status)" >&2
  failures=$((failures + 1))
}

security='Types: deb\nURIs: http://sec.example/debian-security\nSuites: bookworm-security\nComponents: main\n'
main='Types: deb\n# a comment inside\nURIs: http://main.example/debian http://other.example/debian\nSuites: bookworm bookworm-updates\nComponents: main\n'

check deb822-after-security http://main.example/debian \
  sources.list.d/debian.sources "$security\n$main"
check deb822-disabled-skipped http://main.example/debian \
  sources.list.d/a.sources "Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nEnabled: no\n\n$main"
check deb822-source-only-skipped http://main.example/debian \
  sources.list.d/a.sources "Types: deb-src\nURIs: http://src.example/debian\nSuites: bookworm\n\n$main"
check deb822-files-without-blank-line-kept-apart http://main.example/debian \
  sources.list.d/a.sources "Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nEnabled: no" \
  sources.list.d/b.sources "$main"
check deb822-other-release-then-one-line http://line.example/debian \
  sources.list.d/a.sources "Types: deb\nURIs: http://sid.example/debian\nSuites: sid\n" \
  sources.list "deb http://line.example/debian bookworm main\n"
check one-line-options-and-comments http://line.example/debian \
  sources.list "# deb http://commented.example/debian bookworm main\ndeb-src http://src.example/debian bookworm main\ndeb http://sec.example/debian-security bookworm-security main\ndeb [arch=amd64 signed-by=/k.gpg] http://line.example/debian bookworm main # mirror\n"
check one-line-in-list-file http://list.example/debian \
  sources.list.d/x.list "deb http://list.example/debian bookworm main contrib\n"
check disabled-file-ignored - \
  sources.list.d/x.list.disabled "deb http://no.example/debian bookworm main\n"
check nothing - sources.list ""

[ $failures -eq 0 ] || exit 1
echo "all cases passed"
