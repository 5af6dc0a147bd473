#!/usr/bin/env bash
# Fails when an installed shared library exports a symbol that is not its public API.
#   check_symbols.sh CMAKE BUILD_DIR WORK_DIR
# Installs the runtime component into WORK_DIR, reads every library's dynamic symbol table
# (nm -D --defined-only -C) and matches each symbol's entity (the function, object or class it
# names, template arguments and parameters left out) against the library's allow-list below.
# Everything in namespace std (template instantiations that leak as weak symbols) is allowed.
set -euo pipefail
cmake=$1 build=$2 work=$3

# library   entity regex (extended), one allowed form a line; a library may have several lines.
# libqxscsi's public API outside the QX names: the designation descriptors of qxscsi/designation.h
# and the counted pointer template of qxscsi/ownership.h (explicitly instantiated and exported as
# the base of QXScsiTargetImplReference). Nothing else in namespace qxscsi belongs to the core's API.
# The iSCSI back-end's parameter names are its iscsi...Param() functions.
allow='
libqxscsi.so            ^QX[A-Za-z0-9_]*(::|$)
libqxscsi.so            ^qxscsi::(DesignationDescriptorPage|DesignationDescriptorList)(::|$)
libqxscsi.so            ^qxscsi::(codeSetName|associationName|designatorTypeName)$
libqxscsi.so            ^SafeReferencedAutoPtr_T(::|$)
libQxPattern.so         ^QX[A-Za-z0-9_]*(::|$)
libQxScsiPlatformUtil.so ^QX[A-Za-z0-9_]*(::|$)
libqxscsi_backends.so   ^qxscsi::backends::Installation(::|$)
libqxscsi_backends.so   ^qxscsi::backends::(install|builtinBackends|lastCommand|routedImplementation)$
libqxscsi_emulated.so   ^qxscsi::backends::makeEmulatedBackend$
libqxscsi_iscsi.so      ^qxscsi::backends::(makeIscsiBackend|iscsiDefaultInitiatorName)$
libqxscsi_iscsi.so      ^qxscsi::backends::iscsi[A-Za-z]+Param$
libqxscsi_sg.so         ^qxscsi::backends::makeSgBackend$
'

rm -rf "$work"
"$cmake" --install "$build" --prefix "$work/prefix" --component runtime >/dev/null

# The entity of each demangled symbol: special prefixes (typeinfo for, thunks, ...) dropped, the
# operators that contain < or > masked, template arguments removed innermost first, a function's
# return type and parameters dropped.
entities() {
  sed -E \
    -e 's/^(typeinfo name for|typeinfo for|vtable for|VTT for|construction vtable for|guard variable for|non-virtual thunk to|virtual thunk to|covariant return thunk to) //' \
    -e 's/\(anonymous namespace\)/{anonymous}/g' \
    -e 's/operator(<=>|<<=|>>=|<<|>>|<=|>=|->\*|->|<|>)/operator@/g' \
    -e ':t' -e 's/<[^<>]*>//' -e 'tt' |
    awk '{
      s = $0; p = index(s, "(")
      if (p > 0) s = substr(s, 1, p - 1)
      if (match(s, /[^ ]*operator( .*)?$/)) s = substr(s, RSTART)
      else if (match(s, /[^ ]+$/)) s = substr(s, RSTART)
      print s
    }'
}

libraries=$(find "$work/prefix" -name 'lib*.so.*' -type f | sort)
[ -n "$libraries" ] || { echo "no libraries installed under $work/prefix" >&2; exit 1; }
failed=0
for path in $libraries; do
  file=$(basename "$path")
  library=${file%%.so.*}.so
  rules=$(awk -v l="$library" '$1 == l { print $2 }' <<<"$allow")
  if [ -z "$rules" ]; then
    echo "$library: no allow-list (add one to $0)"
    failed=1
    continue
  fi
  symbols=$(nm -D --defined-only -C "$path" | cut -d' ' -f3- | sort -u)
  offending=$(paste -d '\t' <(entities <<<"$symbols") <(cat <<<"$symbols") |
    awk -F '\t' -v rules="$rules" '
      BEGIN { n = split(rules, allowed, "\n") }
      $1 ~ /^std::/ { next }
      { for (i = 1; i <= n; i++) if ($1 ~ allowed[i]) next; print $2 }')
  count=$(wc -l <<<"$symbols")
  if [ -n "$offending" ]; then
    echo "$library: exports what is not its public API:"
    sed 's/^/  /' <<<"$offending"
    failed=1
  else
    echo "$library: $count symbols, all public API"
  fi
done
rm -rf "$work"
exit $failed
