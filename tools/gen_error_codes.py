#!/usr/bin/env python3
"""Writes the named error codes (C++ header) from the error catalogue file."""
import re, sys

def main(src, dst):
    types, ids, cur = [], {}, None
    for line in open(src, encoding='utf-8'):
        m = re.match(r'ERR_TYPE\((\w+),', line)
        if m:
            cur = m.group(1); types.append(cur); ids[cur] = []; continue
        m = re.match(r'ERR\((\w+), (\w+),', line)
        if m:
            ids[m.group(1)].append(m.group(2))
    out = ['// Generated from runtime/error_catalog.def by tools/gen_error_codes.py: do not edit.',
           'namespace err {']
    for ti, t in enumerate(types):
        out.append(f'namespace {t} {{')
        out += [f'constexpr ErrCode {i}{{{100 * ti + ii}}};' for ii, i in enumerate(ids[t])]
        out.append('}')
    out.append('}  // namespace err')
    text = '\n'.join(out) + '\n'
    try:
        if open(dst, encoding='utf-8').read() == text:
            return
    except OSError:
        pass
    open(dst, 'w', encoding='utf-8').write(text)

if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
