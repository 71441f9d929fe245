#!/usr/bin/env python3
"""Writes the benchmark workloads, deterministically (fixed seed).

  plain.s    1,000,000 instruction lines of every format class, no names
  symbols.s  1,000,000 lines: 100,000 definitions spread through the file,
             about half of all operand slots naming an earlier definition,
             and .jump/.mov32 lines naming earlier labels and defines
  labels.s   1,000,000 lines with 100,000 labels: most branches and jr/jal
             name a label with @ (about half of them forward), dw. (label)
             tables and .call (label) forward calls
  gnu.s      labels.s written in GNU syntax (--syntax=gnu), with a macro
             called every 1,000 lines and a .rodata table every 50,000
  gnu-link/  gnu.s cut into 8 files (every label global, a branch to another
             file a jr) and a linker script that joins them
  lsp.s      10,000 lines as labels.s, with 1,000 labels: the document
             the language server workload edits
  macros.s   10,000 calls of three macros that produce about 1,000,000
             lines: \@ labels, rept. blocks inside the bodies, a macro that
             calls one; the count of produced lines goes to standard output
"""
import random
import sys

LINES = 1_000_000


def reg(r):
    return "$%d" % r.randrange(32)


def plain_line(r):
    k = r.randrange(16)
    if k == 0:
        return "%s %s, %s" % (r.choice(["mov", "add", "sub", "cmp", "shl", "mul", "or", "xor"]), reg(r), reg(r))
    if k == 1:
        return "%s %d, %s" % (r.choice(["mov", "add", "cmp", "shl", "sar", "setf"]), r.randrange(-16, 16), reg(r))
    if k == 2:
        return "%s %d" % (r.choice(["be", "bne", "br", "blt", "bgt", "bnh"]), r.randrange(-256, 256) & ~1)
    if k == 3:
        return "%s %d" % (r.choice(["jr", "jal"]), r.randrange(-(1 << 20), 1 << 20) & ~1)
    if k == 4:
        return "%s 0x%x, %s, %s" % (r.choice(["movea", "addi", "ori", "andi", "movhi"]), r.randrange(65536), reg(r), reg(r))
    if k == 5:
        return "%s %d[%s], %s" % (r.choice(["ld.b", "ld.h", "ld.w", "in.w"]), r.randrange(-512, 512), reg(r), reg(r))
    if k == 6:
        return "%s %s, %d[%s]" % (r.choice(["st.b", "st.h", "st.w", "out.w"]), reg(r), r.randrange(-512, 512), reg(r))
    if k == 7:
        return "%s %s, %s" % (r.choice(["addf.s", "mulf.s", "cmpf.s", "cvt.ws"]), reg(r), reg(r))
    if k == 8:
        return r.choice(["MOVBSU", "ORBSU", "SCH0BSU", "andnbsu"])
    if k == 9:
        return r.choice(["trap %d" % r.randrange(32), "reti", "halt", "ei", "di"])
    if k == 10:
        return "%s $%d, %s" % (r.choice(["ldsr", "stsr"]), r.randrange(32), reg(r))
    if k == 11:
        return "jmp [%s]" % reg(r)
    if k == 12:
        return "nop"
    if k == 13:
        return "\tmov\t%s, %s\t; copy" % (reg(r), reg(r))
    if k == 14:
        return "add %d, %s" % (r.randrange(16), reg(r))
    return "movea 0x%04x, $0, %s" % (r.randrange(65536), reg(r))


def plain(out, r):
    for _ in range(LINES):
        out.write(plain_line(r) + "\n")


def symbols(out, r, names=100_000):
    labels, numbers, registers = [], [], []
    definitions = 0
    every = LINES // names  # 10 by default: 100,000 definitions in 1,000,000 lines
    for i in range(LINES):
        if i % every == 0:
            kind = definitions % 3
            definitions += 1
            if kind == 0:
                name = "L%d_%x" % (definitions, r.randrange(1 << 16))
                labels.append(name)
                out.write("lb. %s\n" % name)
            elif kind == 1:
                name = "N%d" % definitions
                numbers.append(name)
                out.write("df. %s %d\n" % (name, r.randrange(-16, 16)))
            else:
                name = "R%d" % definitions
                registers.append(name)
                out.write("df. %s $%d\n" % (name, r.randrange(32)))
            continue
        if not registers:
            out.write("nop\n")
            continue
        name_reg = lambda: r.choice(registers) if r.random() < 0.5 else reg(r)
        name_num = lambda: r.choice(numbers) if r.random() < 0.5 else str(r.randrange(16))
        k = r.randrange(8)
        if k == 0:
            out.write(".jump %s\n" % r.choice(labels))
        elif k == 1:
            out.write(".mov32 %s, %s\n" % (r.choice(labels + numbers), name_reg()))
        elif k == 2:
            out.write("mov %s, %s\n" % (name_reg(), name_reg()))
        elif k == 3:
            out.write("add %s, %s\n" % (name_num(), name_reg()))
        elif k == 4:
            out.write("ld.w %s[%s], %s\n" % (name_num(), name_reg(), name_reg()))
        elif k == 5:
            out.write("st.w %s, %s[%s]\n" % (name_reg(), name_num(), name_reg()))
        elif k == 6:
            out.write("movea %s, %s, %s\n" % (name_num(), name_reg(), name_reg()))
        else:
            out.write("be %s\n" % r.choice(labels))


def labels(out, r, names=100_000, lines=LINES):
    every = lines // names
    for i in range(lines):
        cur = i // every
        if i % every == 0:
            out.write("lb. L%d\n" % cur)
            continue
        # Branches reach the label before them or the next one: at most nine
        # lines of at most 18 bytes lie between, well within reach.
        back = "L%d" % cur
        fwd = "L%d" % (cur + 1) if cur + 1 < names else back
        near = fwd if r.random() < 0.5 else back
        k = r.randrange(10)
        if k < 3:
            out.write("%s @%s\n" % (r.choice(["be", "bne", "br", "blt", "bgt", "bnh", "bz", "bnz"]), near))
        elif k == 3:
            out.write("%s @L%d\n" % (r.choice(["jr", "jal"]), r.randrange(names)))
        elif k == 4:
            out.write("dw. (%s)\n" % near)
        elif k == 5:
            out.write(".call (%s)\n" % fwd)
        else:
            out.write(plain_line(r) + "\n")


MACROS = """\
macro. copy src, dst, n=8
copy\\@: ld.w 0[\\src], $10
rept. \\n
        st.w $10, 0[\\dst]
        add 4, \\dst
        add -1, $11
endr.
        jr @copy\\@
endm.
macro. clear reg, count
rept. \\count
        mov 0, \\reg
        movea 0x1234, $0, \\reg
        st.w \\reg, 4[$3]
        shl 2, \\reg
        add -1, \\reg
endr.
endm.
macro. frame a, b
f\\@:    movhi hi(0x05001000), $0, \\a
        movea lo(0x05001000), \\a, \\a
        clear \\b, 19
        jr @f\\@
endm.
"""


def macros(out, r, calls=10_000):
    """Returns the lines the calls produce: every line read from a macro
    body or a repeat block (rept./endr. lines included)."""
    out.write(MACROS)
    produced = 0
    for i in range(calls):
        k = i % 4
        a, b = "$%d" % r.randrange(4, 10), "$%d" % r.randrange(12, 30)
        if k == 0:
            out.write("        copy %s, %s, 32\n" % (a, b))
            produced += 4 + 3 * 32
        elif k == 1:
            out.write("        clear %s, 20\n" % a)
            produced += 2 + 5 * 20
        elif k == 2:
            out.write("        frame %s, %s\n" % (a, b))
            produced += 4 + 2 + 5 * 19
        else:
            out.write("        clear %s, 19\n" % b)
            produced += 2 + 5 * 19
    return produced


GNU_HEADER = """\
\t.macro load reg, addr
\tmovhi hi(\\addr), r0, \\reg
\tmovea lo(\\addr), \\reg, \\reg
\t.endm
\t.text
"""


def gnu(out, r):
    """The labels workload, line for line, as GNU as writes it."""
    import io
    import re
    text = io.StringIO()
    labels(text, r)
    out.write(GNU_HEADER)
    for i, line in enumerate(text.getvalue().splitlines()):
        if i % 1000 == 999:
            out.write("\tload r%d, L%d + %d\n" % (6 + i % 20, i // 10, i % 64))
        if i % 50000 == 49999:
            out.write("\t.section .rodata\n\t.word L%d, L%d\n\t.text\n" % (i // 10, i // 20))
        if line.startswith("lb. "):
            out.write(line[4:] + ":\n")
            continue
        line = line.replace("; copy", "# copy")
        line = re.sub(r"\$(\d+)", r"r\1", line)
        line = line.replace("@", "")
        m = re.match(r"(dw\.|\.call) \((\w+)\)$", line)
        if m:
            line = (".word " if m.group(1) == "dw." else "jal ") + m.group(2)
        m = re.match(r"(ldsr|stsr) r(\d+), (r\d+)$", line)
        if m:
            line = "ldsr %s, %s" % (m.group(3), m.group(2)) if m.group(1) == "ldsr" else "stsr %s, %s" % (m.group(2), m.group(3))
        m = re.match(r"(b\w+|jr|jal) (-?\d+)$", line)
        if m:
            line = "%s .%+d" % (m.group(1), int(m.group(2)))
        # GNU as' spellings: cli and sei, setf conditions 0-15.
        line = {"ei": "cli", "di": "sei"}.get(line, line)
        m = re.match(r"setf (-\d+), (r\d+)$", line)
        if m:
            line = "setf %d, %s" % (int(m.group(1)) & 15, m.group(2))
        out.write(line + "\n")


def gnu_link(folder, r, parts=8):
    """The gnu workload cut into parts that a linker script joins: every
    label global, and a branch to a label of another part a jr (GNU as keeps
    a branch to another file short, and these would not reach)."""
    import io
    import os
    import re
    text = io.StringIO()
    gnu(text, r)
    lines = text.getvalue().splitlines()
    header = lines[:GNU_HEADER.count("\n")]
    body = lines[len(header):]
    size = (len(body) + parts - 1) // parts
    label = re.compile(r"^(L\d+):$")
    branch = re.compile(r"^(b\w+|br) (L\d+)$")
    os.makedirs(folder, exist_ok=True)
    for k in range(parts):
        chunk = body[k * size:(k + 1) * size]
        own = {m.group(1) for m in map(label.match, chunk) if m}
        with open(os.path.join(folder, "part%d.s" % k), "w") as out:
            out.write("\n".join(header) + "\n")
            for name in sorted(own):
                out.write("\t.global %s\n" % name)
            for line in chunk:
                m = branch.match(line)
                if m and m.group(2) not in own:
                    line = "jr " + m.group(2)
                out.write(line + "\n")
    with open(os.path.join(folder, "link.ld"), "w") as out:
        out.write("SECTIONS\n{\n  .text 0x07000000 : { *(.text) }\n  .rodata : { *(.rodata) }\n}\n")


def main():
    which, path = sys.argv[1], sys.argv[2]
    r = random.Random(810)
    if which == "gnu-link":
        gnu_link(path, r)
        return
    with open(path, "w") as out:
        if which == "plain":
            plain(out, r)
        elif which == "labels":
            labels(out, r)
        elif which == "gnu":
            gnu(out, r)
        elif which == "lsp":
            labels(out, r, 1_000, 10_000)
        elif which == "macros":
            print(macros(out, r))
        else:
            symbols(out, r, int(sys.argv[3]) if len(sys.argv) > 3 else 100_000)


if __name__ == "__main__":
    main()
