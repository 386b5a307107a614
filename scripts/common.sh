# Shared by the scripts in this folder (sourced, not run): the command-line conventions every
# program of the suite follows.
#   exit 0 done, 1 failed (one line "<name>: <reason>"), 2 usage error ("Try '<name> --help'.")
#   --version prints "<name> <version>", the file version every binary of the suite carries.

# The suite's file version: the project version of CMakeLists.txt and a fourth part 0, as
# the binaries' version notes have it.
kvr_version() {
  local v
  v=$(sed -n 's/^project(lumarcon VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  echo "${v:-unknown}.0"
}

# usage_error NAME MESSAGE: the two lines of a usage error on stderr, then exit 2.
usage_error() {
  printf '%s: %s\nTry '\''scripts/%s --help'\''.\n' "$1" "$2" "$1" >&2
  exit 2
}

# fail NAME MESSAGE: one line on stderr, then exit 1.
fail() {
  printf '%s: %s\n' "$1" "$2" >&2
  exit 1
}

exit_status_text() {
  cat <<'TEXT'
Exit status:
  0  done
  1  failed (the message says why)
  2  usage error (unknown option, missing or bad value)
TEXT
}
