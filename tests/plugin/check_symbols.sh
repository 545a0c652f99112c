#!/usr/bin/env bash
# The module exports exactly the contract's four symbols.
set -euo pipefail
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
expected="DescribePlugin InitPlugin RunPlugin _RovandelParamsForm "
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports: $actual"
