#!/usr/bin/python3
"""The catalogues made for other programs (CSV, JSON Lines, the search tools' file list, the checksum manifest) and
the text listing's marks and digests, made by the console program under Wine over one real tree and read back with
the tools users use: Python's csv and json, jq, sha256sum -c, md5sum -c.

Usage: formats_test.py BUILD_DIR DIRTALLY_CLI_EXE HOLD_FILE_EXE
"""
import csv, datetime, hashlib, io, json, os, re, shutil, stat, subprocess, sys, time, traceback

BUILD, CLI, HOLD = sys.argv[1:4]
SCRATCH = os.path.join(BUILD, 'testdrives', 'formats')
TREE, OUT = os.path.join(SCRATCH, 'tree'), os.path.join(SCRATCH, 'out')
ZONE = 'DTZ-5:30'  # local time 5:30 ahead of UTC, so that a local time cannot pass for UTC
EPOCH = 116444736000000000  # 1970-01-01 in FILETIME units
results = {'passed': 0, 'failed': 0}


def check(ok, why, detail=''):
    results['passed' if ok else 'failed'] += 1
    if not ok: print(f'FAIL {why}: {detail}'[:3000])
    return ok


def win(path): return 'Z:' + os.path.abspath(path).replace('/', '\\')
def one_line(text): return re.sub('[\x00-\x1f]', '?', text)  # as the text listing and stderr show names
def upper(text): return re.sub('[a-z]+', lambda m: m.group().upper(), text)  # folder names in the text listing
def iso(ns, offset=0): return datetime.datetime.fromtimestamp(ns // 10**9 + offset, datetime.timezone.utc)


# The tree: (path below it, content or a size, why). Every entry gets its own time, with a part of a second.
DEEP = '/'.join(c * 60 for c in 'pqrst')
FILES = [('plain.txt', b'plain\n', 'a plain name'), ('a,b;c.txt', b'abc', 'commas and semicolons: quoted'),
         ('q"uote.txt', b'q', 'a quote: doubled in CSV, escaped in JSON'), ('tab\there.txt', b't', 'a tab'),
         ('nl\nhere.txt', b'n', 'a line end inside a quoted field'), ('cr\rhere.txt', b'r', 'a carriage return too'),
         ('東京.txt', b'cjk', 'CJK'), ('Привет.txt', b'cyr', 'Cyrillic'), ('😀.txt', b'emoji', 'outside the BMP'),
         ('empty.txt', b'', 'empty'), ('readonly.txt', b'ro', 'mode 0444: R'),
         ('n' * 251 + '.txt', b'long', 'a name of 255 characters'),
         ('.dotfile', b'dot', 'listed, hidden'), ('.git/config', b'x', 'in a dot folder: never listed'),
         ('big/huge.bin', 5000000000, 'past 4 GiB'), ('chunks.bin', 2621447, 'digests over several reads'),
         ('locked.txt', b'locked', 'held with no sharing by another process'), ('sub/a.txt', b'a' * 10, 'sizes to sort'),
         ('sub/b.log', b'bbb', ''), ('sub/c.dat', b'c', ''), ('sub/inner/x.txt', b'x', 'depth 2'),
         (DEEP + '/leaf.txt', b'leaf', 'a path past 260 characters')]
# Names Wine cannot open (characters Windows forbids), and the file held open: no digest, an error.
UNHASHABLE = {p for p, _, _ in FILES if re.search('["\t\n\r]', p)} | {'locked.txt'}
HASHES = ['sha256', 'sha1', 'md5', 'sha512']


def build_tree():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(OUT)
    for i, (path, content, _) in enumerate(FILES):
        full = os.path.join(TREE, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, 'wb') as f:
            if isinstance(content, bytes): f.write(content)
            elif content < 10**8: f.write(hashlib.shake_256(b'chunks').digest(content))
            else: f.truncate(content)
        os.utime(full, ns=((978307200 + i * 3456789) * 10**9 + i * 123456789, ) * 2)
    os.chmod(os.path.join(TREE, 'readonly.txt'), 0o444)
    os.symlink('missing', os.path.join(TREE, 'dangling'))  # a link to nothing: in no catalogue
    for i, (folder, _, _) in enumerate(sorted(os.walk(TREE), reverse=True)):  # deepest first
        os.utime(folder, ns=((1009843200 + i * 86399) * 10**9 + 987654321, ) * 2)


def entry(path):
    """What a catalogue should say of `path`, from the Linux side."""
    st, name = os.lstat(path), os.path.basename(path)
    folder, readonly, hidden = stat.S_ISDIR(st.st_mode), not st.st_mode & 0o222, name.startswith('.')
    return {'name': name, 'type': 'folder' if folder else 'file', 'size': None if folder else st.st_size,
            'modified': iso(st.st_mtime_ns).strftime('%Y-%m-%dT%H:%M:%SZ'), 'ns': st.st_mtime_ns,
            'attributes': 'R' * readonly + 'H' * hidden + 'A' * (not folder), 'flags': (16 if folder else 32) | readonly | 2 * hidden}


def expected(starts, depth=-1, files=True, folders=True):
    """{Windows path: entry} of each start folder and what lies below it, folders deeper than `depth` not entered
    (without `folders`, the start folder's files alone)."""
    rows = {}
    for start in starts:
        rows[win(start)] = entry(start)
        for folder, dirs, names in os.walk(start):
            dirs[:] = [d for d in dirs if not d.startswith('.')]
            if depth >= 0 and os.path.relpath(folder, start).count('/') + (folder != start) > depth: dirs[:] = []; continue
            rows.update({win(os.path.join(folder, n)): entry(os.path.join(folder, n)) for n in dirs * folders + names * files
                         if os.path.exists(os.path.join(folder, n))})
    return rows


def runner(zone):
    """wine-run.sh with local time moved off UTC."""
    script, path = open(os.path.join(BUILD, 'wine-run.sh')).read(), os.path.join(SCRATCH, 'wine-run-zone.sh')
    assert 'export TZ=UTC\n' in script, 'wine-run.sh no longer sets TZ=UTC'
    with open(path, 'w') as f: f.write(script.replace('export TZ=UTC\n', f"export TZ='{zone}'\n"))
    os.chmod(path, 0o755)
    return [path]


RUNS = [0]
def run(args, prefix=None, during=None, out=None):
    """Runs the program with the catalogue to a file; gives exit code, the file's bytes, stderr's lines."""
    RUNS[0] += 1
    log = os.path.join(OUT, str(RUNS[0]))
    out = out or log
    with open(log + '.stdout', 'wb') as so, open(log + '.stderr', 'wb') as se:
        child = subprocess.Popen((prefix or RUNNER) + [CLI] + args + ['-o', win(out)], stdin=subprocess.DEVNULL, stdout=so, stderr=se)
        if during: during(child)
        code = child.wait()
    data = open(out, 'rb').read() if os.path.exists(out) else b''
    return code, data, open(log + '.stderr', 'rb').read().decode('utf-8').replace('\r\n', '\n').split('\n')[:-1]


def parse_json(line):
    try: return json.loads(line)
    except ValueError as error: return check(False, 'jsonl: every line is JSON', f'{error}: {line[:300]}') or {}


def rows(form, data):
    """A catalogue read back: JSON Lines as (every object, the entries' objects); CSV and the file list as
    (the header, a dict per row)."""
    if form == 'jsonl':
        lines = data.decode('utf-8').split('\n')
        check(lines[-1] == '', 'JSON Lines end with a line end')
        objects = [parse_json(line) for line in lines[:-1]]
        return objects, objects[1:-1]
    check(data.startswith(b'\xef\xbb\xbf') == (form == 'csv'), f'{form}: byte-order mark only in CSV')
    table = list(csv.reader(io.StringIO(data.decode('utf-8-sig'), newline='')))
    return table[0], [dict(zip(table[0], r)) for r in table[1:]]


def paths(form, data):
    """The Windows paths a catalogue lists, in order (the text listing's as it shows them)."""
    if form != 'text': return [r[{'csv': 'Path', 'jsonl': 'path', 'efu': 'Filename'}[form]] for r in rows(form, data)[1]]
    lines = data.decode('utf-8').split('\r\n')
    return [l for i, l in enumerate(lines) if l and not l.startswith('<') and set(l) != {'='}
            and not (i + 1 < len(lines) and lines[i + 1] and set(lines[i + 1]) == {'='})]


def as_text(path, starts, folder=None):
    """A catalogue's path as the text listing shows it: folders below the start in capitals, control characters as ?."""
    start = next(s for s in starts if path.startswith(s + '\\'))
    below = path[len(start) + 1:].split('\\')
    if os.path.isdir(path[2:].replace('\\', '/')) if folder is None else folder: below[-1] = upper(below[-1])
    return start + '\\' + one_line('\\'.join([upper(p) for p in below[:-1]] + below[-1:]))


def compare_fields(form, data, expect, starts, errors={}, hashes=()):
    """Every row of a CSV, JSON Lines or file-list catalogue against the tree, field by field."""
    listed, got, want = rows(form, data)[1], {}, {}
    for r in listed:
        if form == 'csv': got[r['Path']] = (r['Name'], r['Type'], r['Size'], r['Modified'], r['Attributes'], r['Error'])
        elif form == 'jsonl': got[r['path']] = (r['name'], r['type'], str(r.get('size', '')), r['modified'], r['attributes'],
                                                r.get('error', ''), *[r.get(h, '') for h in hashes])
        else: got[r['Filename']] = (r['Size'], r['Date Modified'], r['Attributes'], r['Date Created'].isdigit())
    for path, e in expect.items():
        size = '' if e['size'] is None else str(e['size'])
        if form == 'efu':  # the start folder is the list's root, not a row
            if path not in starts: want[path] = (size, str(e['ns'] // 100 + EPOCH), str(e['flags']), e['type'] == 'file')
            continue
        want[path] = (e['name'], e['type'], size, e['modified'], e['attributes'], errors.get(path, ''))
        if form == 'jsonl': want[path] += tuple(e.get(h, '') for h in hashes)
    check(len(got) == len(listed), f'{form}: every path once', len(listed) - len(got))
    diff = [(p, got.get(p), want.get(p)) for p in sorted(set(got) | set(want)) if got.get(p) != want.get(p)]
    check(not diff, f'{form}: every entry of the tree, field by field', diff[:4])


def problem_lines(errors, kind='file'): return sorted(f"dirtally-cli: can't read {kind} {one_line(p)}: {r}" for p, r in errors.items())


def unreadable_folder(why, tree, folder, form_runs):
    """One folder that cannot be read: its mark in the text listing, its error in CSV and JSON Lines, the same
    reason everywhere, exit 4 and one stderr line. `form_runs` gives each form's run."""
    reasons, heading = {}, as_text(win(folder), [win(tree)], folder=True)
    for form in ('jsonl', 'csv', 'text'):
        code, data, err = form_runs(form)
        reason = err[0].rsplit(': ', 1)[-1] if len(err) == 1 else None
        check(code == 4 and err == problem_lines({win(folder): reason}, 'folder'), f'{why} ({form}): exit 4, one line', (code, err))
        if form == 'text':
            got = re.findall(re.escape(f'{heading}\r\n{"=" * len(heading)}\r\n\r\n') + '<cannot read this folder: (.*)>\r\n',
                             data.decode('utf-8'))
        else:
            got = [o.get('error', o.get('Error')) for o in rows(form, data)[1] if o.get('path', o.get('Path')) == win(folder)]
        check(got == [reason] and reason, f'{why} ({form}): marked once, with the reason', (got, reason))
        reasons[form] = reason
    check(len(set(reasons.values())) == 1, f'{why}: one reason in every form', reasons)


def main():
    build_tree()
    global RUNNER
    RUNNER = runner(ZONE)
    hashable = sorted(p for p, _, _ in FILES if p not in UNHASHABLE and not p.startswith(('.git', 'big')))
    digests = {}
    for h in HASHES:  # what the checksum tools say of each file
        out = subprocess.run([h + 'sum', '--zero'] + hashable, cwd=TREE, capture_output=True, check=True).stdout.decode()
        digests[h] = {line.split('  ', 1)[1]: line.split('  ', 1)[0] for line in out.split('\0') if line}
    starts, everything = [win(TREE)], expected([TREE])
    for p in hashable: everything[win(os.path.join(TREE, p))].update({h: digests[h][p] for h in HASHES})
    # One file held open with no sharing by another Wine process for the whole run.
    ready = os.path.join(SCRATCH, 'held')
    holder = subprocess.Popen(RUNNER + [HOLD, win(os.path.join(TREE, 'locked.txt')), win(ready)],
                              stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(600):
        if os.path.exists(ready) or holder.poll() is not None: break
        time.sleep(0.1)
    check(os.path.exists(ready), 'the helper holds locked.txt')
    for group in (lambda: run_tree_checks(starts, everything, hashable), run_unreadable_checks):
        try:
            group()
        except Exception:  # a catalogue that cannot be read as expected: the rest of its group is not checked
            traceback.print_exc()
            check(False, 'the group ran to its end')
        finally:
            if holder.poll() is None: holder.stdin.close(), holder.wait()
    print(f"{results['passed']} passed, {results['failed']} failed")
    return 1 if results['failed'] else 0


def run_tree_checks(starts, everything, hashable):
    # Field by field: CSV and the file list without digests (nothing to fail: exit 0, no stderr), JSON Lines
    # with all four digests (the unopenable files get their reason; the others are still hashed).
    for form, args, header in (('csv', ['--format', 'CSV'], ['Path', 'Name', 'Type', 'Size', 'Modified', 'Attributes', 'Error']),
                               ('efu', ['--format', 'efu'], ['Filename', 'Size', 'Date Modified', 'Date Created', 'Attributes'])):
        code, data, err = run(args + ['-s', win(TREE)])
        check(code == 0 and err == [], f'{form}: exit 0, nothing on stderr', (code, err))
        compare_fields(form, data, everything, starts)
        check(rows(form, data)[0] == header, f'{form}: header', rows(form, data)[0])
    before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    code, data, err = run(['--format', 'JsonL', '-s', '--exclude', 'big', win(TREE)] + sum((['--hash', h.upper()] for h in HASHES), []))
    after = datetime.datetime.now(datetime.timezone.utc)
    objects = rows('jsonl', data)[0]
    first, last, listed = objects[0], objects[-1], objects[1:-1]
    errors = {o['path']: o['error'] for o in listed if 'error' in o}
    unhashable = {win(os.path.join(TREE, p)) for p in UNHASHABLE}
    check(set(errors) == unhashable and all(errors.values()), 'jsonl: an error for each file that cannot be read', errors)
    check(code == 4 and err == problem_lines(errors), 'jsonl: exit 4, one stderr line per file not read', (code, err))
    compare_fields('jsonl', data, {p: e for p, e in everything.items() if not p.startswith(win(TREE) + '\\big')}, starts, errors, HASHES)
    made = datetime.datetime.strptime(first.pop('made'), '%Y-%m-%dT%H:%M:%SZ').replace(tzinfo=datetime.timezone.utc)
    check(before <= made <= after, 'jsonl: made, in UTC', (before, made, after))
    check(first == {'format': 'dirtally-catalogue', 'formatVersion': 1, 'program': first.get('program'), 'startFolders': starts,
                    'filter': '*.*', 'excludes': ['big'], 'subfolders': True, 'maxDepth': None, 'files': True, 'sort': 'name',
                    'reverse': False, 'hashes': HASHES} and first['program'], 'jsonl: the first line describes the run', first)
    files = [o for o in listed if o['type'] == 'file']
    check(last == {'type': 'totals', 'folders': sum(o['type'] == 'folder' for o in listed) - 1, 'files': len(files),
                   'bytes': sum(o['size'] for o in files), 'excluded': 1, 'unreadFolders': 0, 'unreadFiles': len(unhashable)},
          'jsonl: the last line counts what the others list', last)
    jq = subprocess.run(['jq', '-c', '.path'], input=data, capture_output=True)
    check(jq.returncode == 0 and [json.loads(l) for l in jq.stdout.decode().split('\n')[:-1]] == [o.get('path') for o in objects],
          'jq reads every line as json does', jq.stderr[:200])

    # Manifests, verified by the checksum tools in the start folder; every file that could be read is in them.
    for tool, args in (('sha256sum', ['--hash', 'sha256']), ('md5sum', ['--hash', 'Md5'])):
        code, data, err = run(['--format', 'manifest', '-s', '--exclude', 'big', win(TREE)] + args)
        check(code == 4 and len(err) == len(unhashable), f'{tool} manifest: exit 4, a line per file not read', (code, err))
        listed = [line.split('  ', 1)[1] for line in data.decode('utf-8').split('\n')[:-1]]
        check(sorted(listed) == hashable, f'{tool} manifest: the files read, by relative paths with /', listed)
        with open(os.path.join(OUT, 'manifest'), 'wb') as f: f.write(data)
        verify = subprocess.run([tool, '-c', '--strict', os.path.join(OUT, 'manifest')], cwd=TREE, capture_output=True)
        check(verify.returncode == 0, f'{tool} -c accepts the manifest', verify.stdout[-300:] + verify.stderr[-300:])
    # Written into the folder it lists (by -o, or standard output sent there by the Windows command shell), the
    # manifest is not in itself: its bytes are not final while it is made.
    sums, args = os.path.join(TREE, 'sub', 'SHA256SUMS'), ['--format', 'manifest', '--hash', 'sha256', '-s', win(os.path.join(TREE, 'sub'))]
    for stdout in (False, True):
        if stdout:
            code = subprocess.call(RUNNER + ['cmd', '/c', ' '.join([win(CLI)] + args + ['>', win(sums)])], stdin=subprocess.DEVNULL)
            data, err = open(sums, 'rb').read(), []
        else:
            code, data, err = run(args, out=sums)
        verify = subprocess.run(['sha256sum', '-c', '--strict', 'SHA256SUMS'], cwd=os.path.dirname(sums), capture_output=True)
        os.remove(sums)
        check(code == 0 and err == [] and data.count(b'\n') == 4 and verify.returncode == 0,
              f'a manifest in the folder it lists (standard output: {stdout}): exit 0, itself left out', (code, err, data, verify.stdout))

    # The text listing: digests after the local time, their column lined up in each block in both date styles,
    # the reason in place of the digest for the files not read.
    for style, args, date in (('iso', ['--date-format', 'ISO'], '%Y-%m-%d %H:%M:%S'), ('classic', [], None)):
        code, data, err = run(['-s', '--exclude', 'big', '--encoding', 'utf-8', '--hash', 'sha256', win(TREE)] + args)
        check(code == 4 and err == problem_lines(errors), f'text {style}: exit 4, one line per file not read', (code, err))
        columns, wrong = set(), []
        for block in data.decode('utf-8').split('\r\n\r\n\r\n'):
            found = [(line, m) for line in block.split('\r\n') for m in [re.search(r'  ([0-9a-f]{64}|<cannot read this file: [^>]*>)$', line)] if m]
            columns |= {(block[:40], len(set(m.start(1) for _, m in found)))}
            for line, m in found:
                path = next(p for p in everything if everything[p]['type'] == 'file' and line.startswith(as_text(p, starts) + ' '))
                e, mark = everything[path], f'<cannot read this file: {errors.get(path)}>'
                local = iso(e['ns'], 5.5 * 3600).strftime(date) if date else None
                if m.group(1) != e.get('sha256', mark) or (date and local not in line): wrong.append((line, e.get('sha256', mark), local))
        check(not wrong, f'text {style}: each digest or reason, each local time', wrong[:3])
        check(all(n <= 1 for _, n in columns), f'text {style}: the digests start in one column per block', columns)

    # The same entries in every form, as the text listing has them, for each choice of what to list.
    top = os.path.join(TREE, DEEP.split('/')[0])
    tree, sub, deep = win(TREE), win(os.path.join(TREE, 'sub')), win(top)
    views = [(['-s', tree], expected([TREE]), 'the whole tree'),
             ([tree], expected([TREE], 0, folders=False), 'no subfolders: the start folder\'s files alone'),
             (['--max-depth', '0', tree], expected([TREE], 0), '--max-depth 0: the start folder alone is entered'),
             (['--max-depth', '1', tree], expected([TREE], 1), '--max-depth 1: sub/inner listed, not entered'),
             (['-s', '--no-files', tree], expected([TREE], files=False), 'folders only'),
             (['-s', sub, deep], expected([os.path.join(TREE, 'sub'), top]), 'two start folders, in turn'),
             (['-s', '--filter', '*.txt', '--exclude', 'sub', '--exclude', '*.bin', tree], None, 'a filter and excludes')]
    for args, want, why in views:
        view_starts, listed = [a for a in args if a.startswith('Z:')], {}
        for form in ('text', 'csv', 'jsonl', 'efu'):
            code, data, err = run(['--format', form, '--no-details', '--encoding', 'utf-8'] + args)
            check(code == 0 and err == [], f'{why} ({form}): exit 0', (code, err))
            got = [as_text(p, view_starts) if form != 'text' else p for p in paths(form, data) if p not in view_starts]
            check(len(got) == len(set(got)), f'{why} ({form}): no entry twice', got)
            listed[form] = sorted(got)
        check(all(listed[f] == listed['text'] for f in listed), f'{why}: the text listing\'s entries in every form',
              {f: sorted(set(listed[f]) ^ set(listed['text'])) for f in listed})
        walked = sorted(as_text(p, view_starts) for p in want or () if p not in view_starts)
        check(not want or listed['csv'] == walked, f'{why}: every entry of the tree (os.walk), no more', sorted(set(listed['csv']) ^ set(walked)))

    # --reverse: the files of each folder in the opposite order, folders first as before.
    normal, reverse = (rows('csv', run(['--format', 'csv', '--sort', 'size', '--max-depth', '0', tree] + r)[1])[1] for r in ([], ['--reverse']))
    of = lambda listed, kind, key='Path': [r[key] for r in listed if r['Type'] == kind]
    check(len(of(reverse, 'folder')) > 2 and [r['Type'] for r in reverse] == sorted((r['Type'] for r in reverse), key='folder'.__ne__)
          and of(reverse, 'folder') == of(normal, 'folder') and of(reverse, 'file') == of(normal, 'file')[::-1] and
          of(reverse, 'file', 'Size') == sorted(of(reverse, 'file', 'Size'), key=int, reverse=True), '--reverse', (normal, reverse))


def run_unreadable_checks():
    # A folder that vanishes during the run: the walk has read its parent and is hashing the parent's one
    # file, a named pipe whose writer is this script, when the folder is removed; the pipe is then closed.
    # Whoever else has the pipe open is the Wine side reading it, so nothing depends on timing.
    vanish = os.path.join(SCRATCH, 'vanish')
    fifo, gone = os.path.join(vanish, 'a', 'fifo'), os.path.join(vanish, 'a', 'gone')

    def remove_while_hashing(child):
        mine = os.open(fifo, os.O_RDWR)  # held open for writing, so the reader waits for data
        try:
            while child.poll() is None and not any(fifo in open_files(pid) for pid in os.listdir('/proc')
                                                   if pid.isdigit() and int(pid) != os.getpid()):
                time.sleep(0.01)
            shutil.rmtree(gone)
            os.write(mine, b'hello')
        finally:
            os.close(mine)

    def vanish_run(form):
        shutil.rmtree(vanish, ignore_errors=True)
        os.makedirs(gone)
        os.mkfifo(fifo)
        open(os.path.join(gone, 'in.txt'), 'w').close()
        result = run(['--format', form, '--hash', 'sha256', '-s', win(vanish)], during=remove_while_hashing)
        pipe = [o.get('sha256') for o in rows('jsonl', result[1])[1] if o['name'] == 'fifo'] if form == 'jsonl' else None
        check(form != 'jsonl' or pipe == [hashlib.sha256(b'hello').hexdigest()], 'the pipe was read after the folder went', pipe)
        return result
    unreadable_folder('a folder removed during the run', vanish, gone, vanish_run)

    # A folder of mode 000 seen by an unprivileged user, through a prefix of that user's own.
    home, nobody = os.path.join(BUILD, 'formats-nobody'), ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
    if not shutil.which('setpriv') or subprocess.run(nobody + ['test', '-r', CLI]).returncode != 0:
        return print(f'SKIP the mode-000 folder: no setpriv (util-linux), or user 65534 cannot read {CLI}')
    shielded = os.path.join(SCRATCH, 'shielded')
    os.makedirs(os.path.join(shielded, 'closed'))
    open(os.path.join(shielded, 'closed', 'inside.txt'), 'w').close()
    os.chmod(os.path.join(shielded, 'closed'), 0)
    os.makedirs(os.path.join(home, 'prefix'), exist_ok=True)
    for path in (home, os.path.join(home, 'prefix'), OUT): os.chown(path, 65534, 65534)
    user = nobody + ['env', '-i', 'PATH=/usr/bin:/bin', f'HOME={home}', f'WINEPREFIX={home}/prefix', 'WINEARCH=win32',
                     'WINEDEBUG=-all', 'WINEDLLOVERRIDES=mscoree,mshtml=', 'LANG=C.UTF-8', f'TZ={ZONE}']
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not os.path.exists(os.path.join(home, 'prefix', 'system.reg')):
        print('creating the unprivileged user\'s Wine prefix (once per build folder)')
        subprocess.run(user + ['wineboot', '-i'], **quiet), subprocess.run(user + ['wineserver', '-w'], **quiet)
    try:
        unreadable_folder('a folder of mode 000', shielded, os.path.join(shielded, 'closed'),
                          lambda form: run(['--format', form, '-s', win(shielded)], prefix=user + ['wine']))
    finally:
        subprocess.run(user + ['wineserver', '-k'], **quiet)


def open_files(pid):
    """What process `pid` has open, as far as this user may see."""
    links = []
    try:
        for fd in os.listdir(f'/proc/{pid}/fd'):
            try: links.append(os.readlink(f'/proc/{pid}/fd/{fd}'))
            except OSError: pass
    except OSError: pass
    return links


if __name__ == '__main__':
    sys.exit(main())
