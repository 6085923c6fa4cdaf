#!/usr/bin/python3
# The JUnit reports named, as a CI system reads them: one line per test suite,
#   FILE NAME@HOSTNAME tests=N failures=N errors=N: CASE OUTCOME | CASE OUTCOME
# OUTCOME being "pass" or "failure: MESSAGE" / "error: MESSAGE" (each result
# of the case, joined by " & "; a newline in a message as \n); before them, a root of suites as
#   FILE (NAME) tests=N failures=N errors=N
# With -v each case adds its class, its output and its results' texts:
#   CASE [CLASS] OUTCOME out=REPR text=REPR...
import os
import sys
import xml.etree.ElementTree as ET


def counts(e):
    return ' '.join(k + '=' + str(e.get(k)) for k in ('tests', 'failures', 'errors'))


def case(c, verbose):
    results = [e for e in c if e.tag in ('failure', 'error', 'skipped')]
    outcome = ' & '.join(e.tag + ': ' + str(e.get('message')).replace('\n', '\\n')
                         for e in results) or 'pass'
    if not verbose:
        return c.get('name') + ' ' + outcome
    out = c.find('system-out')
    return ' '.join([c.get('name'), '[' + str(c.get('classname')) + ']', outcome,
                     'out=' + repr(None if out is None else out.text)] +
                    ['text=' + repr(e.text) for e in results])


verbose = len(sys.argv) > 1 and sys.argv[1] == '-v'
for path in sys.argv[1 + verbose:]:
    name = os.path.splitext(os.path.basename(path))[0]
    root = ET.parse(path).getroot()
    if root.tag == 'testsuites':
        print(name, '(' + str(root.get('name')) + ')', counts(root))
    for s in root.iter('testsuite'):
        print(name, str(s.get('name')) + '@' + str(s.get('hostname')), counts(s) + ':',
              ' | '.join(case(c, verbose) for c in s.iter('testcase')))
