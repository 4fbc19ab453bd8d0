#!/usr/bin/env python3
"""Random short programs, run through qel and through qel_stress.

Each program is a few statements guarded by `try` inside a `catch`, built from the natives,
actions and routines (their names and specs read from the tables in the
sources), literals of many types, set-words, paths, parens, operators and
small function, loop and catch forms; most of them raise errors, which the
`try` takes, and throws, which the `catch` takes. Every program ends by
printing `alive`. `catch`, `try` and `print` are reached there through values
and words of the program's own that no statement names,
since a statement may well unset or set any word it meets. A
program fails when either build does not end its output with `alive`, ends
with a runtime error report or a signal, or when the stress build's output
or status differs from the plain build's. The programs depend only on the seed, so a failure is shown
again with --seed and --only.

Words that would wait, touch files or the environment, start processes, end
the process or report memory figures (which differ between the two builds)
are left out.
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import tempfile

SOURCES = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

# Tables of the words the boot image defines, and how to find an entry in
# each: its name and its spec text as a C++ string literal.
TABLES = [
    ("evaluator/natives.cpp", re.compile(r'^\s*\{"([^"]+)", "((?:[^"\\]|\\.)*)"')),
    ("library/builtin_words.cpp", re.compile(r'^\s*\{\d+, "([^"]+)", "((?:[^"\\]|\\.)*)"')),
    ("evaluator/routines.cpp", re.compile(r'^\s*\{"([^"]+)", "((?:[^"\\]|\\.)*)"')),
]

EXCLUDED = {
    # loops that need a condition to end
    "while", "until", "forever",
    # time, waiting, the environment, processes, the browser
    "wait", "now", "set-env", "get-env", "list-env", "call", "browse",
    # files and ports
    "size?", "create", "close", "delete", "modify", "open", "open?", "query", "read", "rename", "update",
    "write", "to-local-file",
    # ending the process, moving the process elsewhere
    "quit-return", "set-current-dir",
    # the stacks' own layout
    "stack-size?", "pick-stack", "frame-index?", "collect-calls",
    # memory figures differ between the builds
    "stats", "recycle", "system/state/GC/active?", "system/state/GC/series-cycles",
    "system/state/GC/nodes-cycles",
    # standard input and the terminal
    "_set-buffer-history", "_read-input", "input-stdin", "read-stdin", "system/console/init",
}
# Refinements left out the same way: (word, refinement).
EXCLUDED_REFINEMENTS = {
    ("random", "secure"),  # not repeatable
}

INTEGERS = ["0", "1", "2", "3", "-1", "7", "64", "255", "2147483647", "-2147483648"]
FLOATS = ["1.5", "0.0", "-0.0", "2.5e10", "1.#NaN", "1.#INF", "-1.#INF", "3.141592653589793"]
STRINGS = ['""', '"abc"', '"😀abc"', '"a^/b"', '"héllo wörld"', '"x y z"', '{multi^/line}', '"AbC"']
OTHERS = [
    '#"a"', '#"😀"', '#"^/"', "#abc", "#{DEADBEEF}", "#{}", "64#{AAAA}", "1x2", "-3x4", "1.2.3", "1.2.3.4",
    "1-Jan-2000", "29-Feb-2004/10:00", "10:00", "12:30:15.5", "10%", "none", "true", "false", "'w", "'a/b",
]
BLOCKS = ["[]", "[1 2]", "[a b c]", '[1 "x" [2 3]]', "[a: 1 b: 2]", "[x 1.5 #\"c\"]", "[(1 + 2) w/x]"]
DATATYPES = [
    "integer!", "float!", "string!", "block!", "paren!", "word!", "set-word!", "lit-word!", "get-word!",
    "refinement!", "path!", "set-path!", "lit-path!", "get-path!", "issue!", "char!", "binary!", "bitset!",
    "map!", "hash!", "object!", "error!", "pair!", "tuple!", "date!", "time!", "percent!", "typeset!",
    "datatype!", "logic!", "none!", "unset!", "vector!", "tag!", "email!", "point2D!", "point3D!",
    "money!", "function!", "native!", "action!", "op!", "number!", "series!", "any-string!",
]
MADE = [
    "make map! [a 1 b 2]", "make object! [a: 1 b: \"x\"]", "make bitset! \"abc\"", "make hash! [a 1 b 2]",
    "make vector! [integer! 8 [1 2 3]]", "copy []", "copy \"\"", "to paren! [1 2]", "make error! \"boom\"",
    "as-pair 1 2", "as-point3D 1 2 3", "as-money 'USD 2", "make typeset! [integer! block!]",
]
# Literals for the types that argument specs name, so that most calls get
# past their argument checks and into the code behind them.
TYPE_LITERALS = {
    "integer!": INTEGERS, "float!": FLOATS, "number!": INTEGERS + FLOATS, "percent!": ["10%", "-50%"],
    "scalar!": INTEGERS + FLOATS + ["1x2", "1.2.3", "10%", "10:00", '#"a"'],
    "string!": STRINGS, "any-string!": STRINGS, "binary!": ["#{DEADBEEF}", "#{}", "64#{AAAA}"],
    "block!": BLOCKS, "any-block!": BLOCKS, "any-list!": BLOCKS, "series!": BLOCKS + STRINGS,
    "hash!": ["make hash! [a 1 b 2]"], "bitset!": ['make bitset! "abc"'], "typeset!": ["make typeset! [integer! block!]"],
    "word!": ["'w", "'a", "'USD"], "any-word!": ["'w", "'a"], "logic!": ["true", "false"], "none!": ["none"],
    "time!": ["10:00", "12:30:15.5"], "date!": ["1-Jan-2000", "29-Feb-2004/10:00"], "pair!": ["1x2", "-3x4"],
    "tuple!": ["1.2.3"], "char!": ['#"a"', '#"😀"'], "issue!": ["#abc"], "datatype!": DATATYPES,
    "object!": ['make object! [a: 1 b: "x"]'], "any-object!": ['make object! [a: 1 b: "x"]'],
    "map!": ["make map! [a 1 b 2]"], "money!": ["as-money 'USD 2"], "paren!": ["to paren! [1 2]"],
    "any-path!": ["'a/b"], "path!": ["'a/b"], "function!": [":lesser?", "func [a b] [a > b]"],
    "any-function!": [":add", ":lesser?", ":form"],
}
# What an action (whose arguments all take any type) gets first: a series
# most of the time.
ACTION_SUBJECTS = STRINGS + BLOCKS + MADE + ["#{DEADBEEF}", "1x2", "1.2.3"]
OPERATORS = ["+", "-", "*", "/", "//", "=", "<>", "==", "<", ">", "<=", ">=", "**", "and", "or", "xor", "=?"]
VARIABLES = ["r", "v", "f"]
FUNCTION_MAKERS = {"func", "function", "does", "has"}
PATH_TAILS = ["1", "2", "x", "y", "a", "b", "code", "id", "type"]


class Word:
    """A word of the vocabulary: its arguments and its refinements."""

    def __init__(self, name, args, refinements, action):
        self.name = name
        self.action = action
        self.args = args                 # list of typeset texts, one per argument
        self.refinements = refinements  # name -> list of typeset texts


def parse_spec(name, spec, action):
    text = spec.encode().decode("unicode_escape") if "\\" in spec else spec
    text = re.sub(r'"(?:[^"^]|\^.)*"', " ", text)  # the doc strings
    args, refinements, current = [], {}, None
    tokens = re.findall(r"\[[^\]]*\]|\S+", text)
    i = 0
    while i < len(tokens):
        tok = tokens[i]
        i += 1
        if tok == "return:":
            i += 1  # its types
            continue
        if tok.startswith("/"):
            current = tok[1:]
            if (name, current) not in EXCLUDED_REFINEMENTS:
                refinements[current] = []
            continue
        if tok.startswith("["):
            continue
        types = tokens[i] if i < len(tokens) and tokens[i].startswith("[") else "[any-type!]"
        if not current:
            args.append(types)
        elif current in refinements:
            refinements[current].append(types)
    return Word(name, args, refinements, action)


def load_vocabulary():
    words = []
    for path, pattern in TABLES:
        with open(os.path.join(SOURCES, path), encoding="utf-8") as f:
            for line in f:
                m = pattern.match(line)
                if m and m.group(1) not in EXCLUDED:
                    words.append(parse_spec(m.group(1), m.group(2), path.startswith("library/")))
    if len(words) < 100:
        sys.exit(f"only {len(words)} words found in the source tables: has their layout changed?")
    return words


class Generator:
    def __init__(self, rng, vocabulary):
        self.rng = rng
        self.words = vocabulary
        self.in_body = 0

    def pick(self, items):
        return self.rng.choice(items)

    def literal(self):
        group = self.pick([INTEGERS, INTEGERS, FLOATS, STRINGS, STRINGS, OTHERS, BLOCKS, DATATYPES, MADE])
        return self.pick(group)

    def code_block(self, depth):
        return "[" + self.sequence(depth + 1) + "]"

    def argument(self, types, depth, subject):
        # A block argument gets code most of the time, so that loops,
        # conditionals and the like run something.
        if "block!" in types and "any-type!" not in types and self.rng.random() < 0.7:
            return self.code_block(depth)
        if self.rng.random() < 0.7:
            fitting = [lit for t in types.strip("[]").split() for lit in TYPE_LITERALS.get(t, [])]
            if subject:
                fitting += ACTION_SUBJECTS
            if fitting:
                return self.pick(fitting)
        return self.expression(depth + 1)

    def call(self, depth):
        word = self.pick(self.words)
        head = word.name
        args = list(word.args)
        if word.refinements and self.rng.random() < 0.4:
            for ref in self.rng.sample(sorted(word.refinements), self.rng.randint(1, min(2, len(word.refinements)))):
                head += "/" + ref
                args += word.refinements[ref]
        if args and self.rng.random() < 0.25:
            args.pop()  # one short: the next value is taken, or the argument is missing
        makes_function = word.name in FUNCTION_MAKERS
        self.in_body += makes_function
        try:
            return " ".join([head] + [self.argument(t, depth, word.action and i == 0) for i, t in enumerate(args)])
        finally:
            self.in_body -= makes_function

    # The forms of an expression, with their weights. Those that read a
    # variable are marked: a function body uses none of them, since a
    # variable that holds the function itself would make it recurse until
    # the stack overflows, which is not what these programs look for.
    FORMS = [
        (30, "call", False), (12, "literal", False), (8, "assignment", False), (6, "paren", False),
        (6, "print", False), (5, "variable", True), (5, "variable_path", True), (8, "operator", False),
        (4, "function", False), (4, "function_call", True), (4, "catch", False), (2, "throw", False),
        (3, "loop", False), (3, "nested", False), (2, "local_function", False),
    ]

    def expression(self, depth):
        if depth > 2:
            return self.literal() if self.in_body or self.rng.random() < 0.8 else self.pick(VARIABLES)
        forms = [(w, name) for w, name, reads in self.FORMS if not (reads and self.in_body)]
        name = self.rng.choices([n for _, n in forms], weights=[w for w, _ in forms])[0]
        return getattr(self, "form_" + name)(depth)

    def form_call(self, depth):
        return self.call(depth)

    def form_literal(self, depth):
        return self.literal()

    def form_assignment(self, depth):
        return self.pick(["r: ", "v: "]) + self.expression(depth + 1)

    def form_paren(self, depth):
        return "(" + self.sequence(depth + 1) + ")"

    def form_print(self, depth):
        return "print " + self.expression(depth + 1)

    def form_variable(self, depth):
        return self.pick(VARIABLES + [":r", ":v", "form r", "mold v", "mold/all r"])

    def form_variable_path(self, depth):
        return self.pick(VARIABLES) + "/" + self.pick(PATH_TAILS)

    def form_operator(self, depth):
        return self.expression(depth + 1) + " " + self.pick(OPERATORS) + " " + self.expression(depth + 1)

    def form_function(self, depth):
        self.in_body += 1
        try:
            return "f: " + self.pick(["func [a] ", "func [a /b c] ", "does ", "has [x] ", "function [a] "]) + \
                self.code_block(depth)
        finally:
            self.in_body -= 1

    def form_local_function(self, depth):
        # A function made on the spot, calling one of its own: nothing but
        # the running calls keeps their contexts.
        self.in_body += 1
        try:
            inner = self.code_block(depth)
        finally:
            self.in_body -= 1
        call = "do function [] [g: func [a] " + inner + " g " + self.literal() + "]"
        return "try/keep [" + call + "]" if self.rng.random() < 0.5 else call

    def form_function_call(self, depth):
        return "f " + self.expression(depth + 1)

    def form_catch(self, depth):
        return "catch " + self.code_block(depth)

    def form_throw(self, depth):
        return "throw " + self.expression(depth + 1)

    def form_loop(self, depth):
        return self.pick(["loop 2 ", "repeat i 3 ", "foreach x " + self.pick(BLOCKS) + " "]) + self.code_block(depth)

    def form_nested(self, depth):
        return self.pick(["try ", "try/all ", "try/keep ", "do "]) + self.code_block(depth)

    def sequence(self, depth):
        return " ".join(self.expression(depth) for _ in range(self.rng.randint(1, 2)))

    def statement(self):
        # Mostly the shape that leaves the stack as an error unwound it
        # for the next statement to meet: an assignment of a call's result,
        # then a value that needs cells of its own.
        if self.rng.random() < 0.7:
            call = self.call(3)
            if self.rng.random() < 0.5:
                call = "(" + call + ")"
            return self.pick(["r: ", "v: ", ""]) + call + " " + self.pick([self.literal(), 'print ""', "form r"])
        return self.sequence(0)

    def program(self):
        statements = ['[r: "" v: none f: none] guarded: func [code] compose/deep [(:catch) [(:try) code]]'
                      ' say-alive: :print']
        statements += ["guarded [" + self.statement() + "]" for _ in range(self.rng.randint(4, 14))]
        statements.append('say-alive "alive"')
        return "Qel []\n" + " ".join(statements) + "\n"


def program_for(seed, index, vocabulary):
    return Generator(random.Random(f"{seed}:{index}"), vocabulary).program()


def run(binary, path, timeout, home):
    try:
        p = subprocess.run([binary, path], capture_output=True, stdin=subprocess.DEVNULL, timeout=timeout,
                           env=dict(os.environ, HOME=home))
    except subprocess.TimeoutExpired:
        return None
    return p.returncode, p.stdout.decode("utf-8", errors="replace"), p.stderr.decode("utf-8", errors="replace")


def faults_of(name, result):
    """What is wrong with one build's run, as a list of texts."""
    status, out, err = result
    faults = []
    if status < 0 or status >= 128:
        faults.append(f"{name} ended with status {status}")
    if "*** Runtime Error" in out or err.strip():
        faults.append(f"{name} reported a runtime error")
    if not out.endswith("alive\n"):
        faults.append(f"{name} did not print alive at the end")
    return faults


def check(args, vocabulary, index, work):
    text = program_for(args.seed, index, vocabulary)
    path = os.path.join(work, f"p{index}.qel")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    plain = run(args.qel, path, args.timeout, work)
    if plain is None:
        return "skipped", text, []  # too slow even without stress: nothing to compare
    stressed = run(args.stress, path, args.timeout * 10, work)
    if stressed is None:
        return "failed", text, [f"qel_stress did not finish in {args.timeout * 10} s"]
    faults = faults_of("qel", plain) + faults_of("qel_stress", stressed)
    if stressed[1] != plain[1]:
        faults.append("the outputs differ")
    if stressed[0] != plain[0]:
        faults.append(f"the statuses differ: qel {plain[0]}, qel_stress {stressed[0]}")
    if faults:
        faults.append("qel:\n" + plain[1] + plain[2])
        faults.append("qel_stress:\n" + stressed[1] + stressed[2])
    return ("failed" if faults else "passed"), text, faults


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--qel", help="the plain build")
    ap.add_argument("--stress", help="the stress build")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--only", type=int, help="run (or show) only the program of this index")
    ap.add_argument("--show", action="store_true", help="print the programs instead of running them")
    ap.add_argument("--timeout", type=float, default=10, help="seconds for the plain build (ten times that under stress)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = ap.parse_args()

    vocabulary = load_vocabulary()
    indexes = [args.only] if args.only is not None else list(range(args.count))
    if args.show:
        for i in indexes:
            sys.stdout.write(f"; program {i}, seed {args.seed}\n" + program_for(args.seed, i, vocabulary))
        return 0
    if not args.qel or not args.stress:
        ap.error("--qel and --stress are needed to run the programs")

    counts = {"passed": 0, "failed": 0, "skipped": 0}
    with tempfile.TemporaryDirectory() as work, \
            concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for i, (outcome, text, faults) in zip(indexes, pool.map(lambda i: check(args, vocabulary, i, work), indexes)):
            counts[outcome] += 1
            if outcome == "failed":
                print(f"FAIL: program {i} (--seed {args.seed} --only {i}):\n{text}" + "\n".join(faults))
            elif outcome == "skipped":
                print(f"skipped: program {i} (--seed {args.seed} --only {i}) took qel over {args.timeout} s")
    print(f"{counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
