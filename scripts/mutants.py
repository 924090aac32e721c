#!/usr/bin/env python3
"""The mutation step of scripts/mutants.sh: finds the places a source line can be mutated, lists
them in a seeded order, and applies or restores one mutation at a time.

  mutants.py plan SRC SEED FOLDER...      every mutation, one JSON object a line, in the order to try
  mutants.py replay SRC LIST              the mutations a previous mutants.txt recorded (or GONE)
  mutants.py apply SRC JSON               writes the mutated line into SRC's copy of the file
  mutants.py record STATUS JSON           the result line of mutants.txt

A mutation changes one line: a comparison flipped (< <=, > >=, == !=), && and || swapped, an
integer constant one up or down, an if/while condition negated, an expression statement or a
return replaced by an empty statement. Comments, string and character literals, preprocessor
lines and statements that only declare are left alone.
"""
import json
import os
import random
import re
import sys

KEYWORDS = {"if", "else", "for", "while", "do", "switch", "case", "default", "return", "break",
            "continue", "goto", "using", "typedef", "struct", "class", "enum", "namespace",
            "template", "static_assert", "public", "private", "protected", "throw", "try",
            "catch", "union", "extern", "friend", "operator"}

# A statement that starts with a type and a name declares something (int v = 3; Foo* p; ...).
DECLARATION = re.compile(r"^(?:(?:const|static|constexpr|volatile|unsigned|signed|long|short|"
                         r"inline|thread_local|auto|struct|enum)\s+)*[A-Za-z_][\w:]*"
                         r"(?:<[^;=]*>)?[\s*&]+(?:const\s+)?[*&]*[A-Za-z_]\w*\s*(?:[=;\[({,:]|$)")
COMPARISON = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
LOGICAL = re.compile(r"(?<=\s)(&&|\|\|)(?=\s|$)")
INTEGER = re.compile(r"(?<![\w.'])(0[xX][0-9A-Fa-f]+|\d+)(?![\w.'])")
CONDITION = re.compile(r"^(\s*(?:\}\s*)?(?:else\s+)?)(if|while)\s*\(")
FLIP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}


def blank_literals(lines):
    """Each line with comments and string/character literals replaced by spaces (same columns),
    and whether it is code at all (not a preprocessor line or its continuation)."""
    out, in_block, continued = [], False, False
    for line in lines:
        text = line.rstrip("\n")
        is_pre = continued or (not in_block and text.lstrip().startswith("#"))
        continued = is_pre and text.endswith("\\")
        chars, i, quote = list(text), 0, None
        while i < len(chars):
            c = chars[i]
            if in_block:
                if text.startswith("*/", i):
                    chars[i] = chars[i + 1] = " "
                    in_block = False
                    i += 2
                    continue
                chars[i] = " "
            elif quote:
                if c == "\\" and i + 1 < len(chars):
                    chars[i] = chars[i + 1] = " "
                    i += 2
                    continue
                if c == quote:
                    quote = None
                chars[i] = " "
            elif text.startswith("//", i):
                for j in range(i, len(chars)):
                    chars[j] = " "
                break
            elif text.startswith("/*", i):
                chars[i] = chars[i + 1] = " "
                in_block = True
                i += 2
                continue
            elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum() and
                                     i + 1 < len(text) and text[i + 1].isalnum()):
                quote = c  # a digit separator (1'000) is not a quote
                chars[i] = " "
            i += 1
        out.append(("".join(chars), not is_pre and 'R"' not in text))
    return out


def balanced(code):
    return code.count("(") == code.count(")") and code.count("{") == code.count("}")


def matching_paren(code, start):
    depth = 0
    for i in range(start, len(code)):
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def statement_start(prev_code):
    """True when the code before this line ends a statement or opens a block, so this line
    starts a statement of its own."""
    p = prev_code.rstrip()
    return p == "" or p.endswith((";", "{", "}", ")", ":", "else", "do"))


def line_mutations(code, text, prev_code, rng):
    """The mutations of one line: (operator name, mutated text)."""
    muts = []
    stripped = code.strip()
    if not stripped or stripped.startswith(("{", "}")) and len(stripped) <= 2:
        return muts
    for m in COMPARISON.finditer(code):
        op = m.group(1)
        muts.append((f"{op} -> {FLIP[op]}", text[:m.start()] + FLIP[op] + text[m.end():]))
    for m in LOGICAL.finditer(code):
        op = m.group(1)
        new = "||" if op == "&&" else "&&"
        muts.append((f"{op} -> {new}", text[:m.start()] + new + text[m.end():]))
    for m in INTEGER.finditer(code):
        lit = m.group(1)
        val = int(lit, 16) if lit[:2] in ("0x", "0X") else int(lit)
        if lit.startswith("0") and len(lit) > 1 and lit[1] not in "xX":
            continue  # octal
        new_val = val + 1 if val == 0 or rng.random() < 0.5 else val - 1
        new = hex(new_val) if lit[:2] in ("0x", "0X") else str(new_val)
        muts.append((f"{lit} -> {new}", text[:m.start()] + new + text[m.end():]))
    m = CONDITION.match(code)
    if m:
        open_at = m.end() - 1
        close_at = matching_paren(code, open_at)
        if close_at > 0 and "constexpr" not in code[:open_at]:
            cond = text[open_at + 1:close_at]
            muts.append((f"negate {m.group(2)}",
                         text[:open_at + 1] + "!(" + cond + ")" + text[close_at:]))
    indent = text[:len(text) - len(text.lstrip())]
    if stripped.endswith(";") and balanced(stripped) and statement_start(prev_code):
        first = re.match(r"[A-Za-z_]\w*", stripped)
        word = first.group(0) if first else ""
        if word == "return":
            muts.append(("delete return", indent + ";"))
        elif (first or stripped[0] in "*(+-") and word not in KEYWORDS and \
                not DECLARATION.match(stripped) and stripped != ";":
            muts.append(("delete statement", indent + ";"))
    inline = re.match(r"^(\s*(?:else\s+)?if\s*\(.*\)\s*)return\b[^;]*;\s*$", code)
    if inline and balanced(code):
        muts.append(("delete return", text[:len(inline.group(1))] + ";"))
    return muts


def file_mutations(src, rel, rng):
    with open(os.path.join(src, rel), encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f]
    muts, prev = [], ""
    for n, ((code, is_code), text) in enumerate(zip(blank_literals(lines), lines), 1):
        if is_code:
            for op, after in line_mutations(code, text, prev, rng):
                muts.append({"file": rel, "line": n, "op": op, "before": text, "after": after})
            if code.strip():
                prev = code
    return muts


def plan(src, seed, folders):
    """Round-robin over the folders; within a folder, round-robin over its files (in a seeded
    order), each file's mutations in a seeded order. Every folder gets its share, and files with
    many sites (tables) do not crowd out the rest."""
    rng = random.Random(seed)
    queues = []
    for folder in folders:
        files = sorted(f for f in os.listdir(os.path.join(src, folder)) if f.endswith(".cpp"))
        per_file = []
        for name in files:
            muts = file_mutations(src, f"{folder}/{name}", rng)
            rng.shuffle(muts)
            if muts:
                per_file.append(muts)
        rng.shuffle(per_file)
        order = []
        while per_file:
            for muts in per_file:
                order.append(muts.pop())
            per_file = [m for m in per_file if m]
        queues.append(order)
    while any(queues):
        for q in queues:
            if q:
                m = q.pop(0)
                print(json.dumps(m))


def replay(src, listing):
    """The mutations of a previous mutants.txt, found by file and exact line text, the line
    nearest the recorded number when the text occurs more than once."""
    pat = re.compile(r"^(\w+)\s+(\S+):(\d+)\s+(.*?) \| before: (.*) \| after: (.*)$")
    with open(listing, encoding="utf-8") as f:
        for line in f:
            m = pat.match(line.rstrip("\n"))
            if not m:
                continue
            _, rel, n, op, before, after = m.groups()
            mut = {"file": rel, "line": int(n), "op": op.strip(), "before": before, "after": after}
            path = os.path.join(src, rel)
            found = []
            if os.path.exists(path):
                with open(path, encoding="utf-8") as s:
                    found = [i for i, l in enumerate(s, 1) if l.rstrip("\n") == before]
            if found:
                mut["line"] = min(found, key=lambda i: abs(i - int(n)))
            else:
                mut["gone"] = True
            print(json.dumps(mut))


def apply(src, mut):
    path = os.path.join(src, mut["file"])
    with open(path, encoding="utf-8") as f:
        lines = f.readlines()
    i = mut["line"] - 1
    if i >= len(lines) or lines[i].rstrip("\n") != mut["before"]:
        sys.exit(f"mutants: {mut['file']}:{mut['line']} is not the line the mutation expects")
    lines[i] = mut["after"] + "\n"
    with open(path, "w", encoding="utf-8") as f:
        f.writelines(lines)


def record(status, mut):
    where = f"{mut['file']}:{mut['line']}"
    return f"{status:<9} {where:<44} {mut['op']:<18} | before: {mut['before']} | after: {mut['after']}"


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "plan":
        plan(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif cmd == "replay":
        replay(sys.argv[2], sys.argv[3])
    elif cmd == "apply":
        apply(sys.argv[2], json.loads(sys.argv[3]))
    elif cmd == "record":
        print(record(sys.argv[2], json.loads(sys.argv[3])))
    else:
        sys.exit(__doc__)
