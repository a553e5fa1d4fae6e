// The catalogue page's script: reads the data the program wrote, shows the
// folder tree and the chosen folder's entries, and searches every name.
// Every name reaches the page as text (textContent), never as markup.
(function () {
  'use strict';
  var about = JSON.parse(document.getElementById('description').textContent);
  var records = JSON.parse(document.getElementById('folders').textContent);
  var count = records.length;
  var EPOCH = 11644473600;  // seconds from 1601, where file times count from, to 1970
  var RESULT_CAP = 10000;   // search results listed; all are counted
  var ROW = 22;             // the height of a table row in pixels, as the style has it
  var $ = function (id) { return document.getElementById(id); };

  // The digits of the numbers, as the program wrote them.
  var BASE = about.digits.length, HALF = BASE >> 1;
  var digitValue = new Int8Array(128).fill(-1);
  for (var d = 0; d < BASE; d++) digitValue[about.digits.charCodeAt(d)] = d;

  // The tree: a folder's parent is the last folder before it one level up.
  var parent = new Int32Array(count).fill(-1), firstChild = new Int32Array(count).fill(-1);
  var nextSibling = new Int32Array(count).fill(-1), lastChild = new Int32Array(count).fill(-1);
  var roots = [], stack = [];
  for (var i = 0; i < count; i++) {
    var depth = records[i][0];
    var up = depth > 0 && depth <= stack.length ? stack[depth - 1] : -1;
    stack.length = up < 0 ? 0 : depth;
    stack.push(i);
    parent[i] = up;
    if (up < 0) roots.push(i);
    else {
      if (lastChild[up] < 0) firstChild[up] = i; else nextSibling[lastChild[up]] = i;
      lastChild[up] = i;
    }
  }
  function statusOf(f) { return records[f][4] || 0; }  // 0 read, 1 in part, 2 not read, 3 leads back, 4 not entered

  // A folder's file names: joined by '/' or, when a name holds one, a list.
  function fileNames(f) {
    var files = records[f][3];
    return typeof files === 'string' ? (files ? files.split('/') : []) : files;
  }

  // A folder's own time and its files' sizes and times (see html_writer.cpp).
  function numbers(f, files) {
    var text = records[f][2], at = 0;
    function varying() {
      for (var value = 0; ;) {
        var digit = digitValue[text.charCodeAt(at++)];
        if (digit >= HALF) return value * HALF + digit - HALF;
        value = value * HALF + digit;
      }
    }
    function fixed(width) {
      for (var value = 0, k = 0; k < width; k++) value = value * BASE + digitValue[text.charCodeAt(at++)];
      return value;
    }
    var own = varying(), sizes = new Float64Array(files), times = new Float64Array(files);
    if (files > 0) {
      varying();  // one more than the largest size
      var earliest = varying(), span = varying(), mode = varying(), width = varying();
      if (mode === 0) {
        for (var k = 0; k < files; k++) {
          var value = fixed(width), size = Math.floor(value / span);
          if (size * span > value) size--;
          sizes[k] = size;
          times[k] = earliest + value - size * span;
        }
      } else {
        var timeWidth = varying();
        for (k = 0; k < files; k++) sizes[k] = fixed(width);
        for (k = 0; k < files; k++) times[k] = earliest + fixed(timeWidth);
      }
    }
    return { time: own ? own - 1 : null, sizes: sizes, times: times };
  }

  // Text for the page.
  function grouped(value) { return String(value).replace(/\B(?=(\d{3})+(?!\d))/g, ','); }
  // "1 file", "12,345 files".
  function counted(value, noun) { return grouped(value) + ' ' + noun + (String(value) === '1' ? '' : 's'); }
  function sizeText(bytes) {
    if (bytes < 1024) return bytes === 1 ? '1 byte' : bytes + ' bytes';
    var units = ['KB', 'MB', 'GB', 'TB', 'PB', 'EB'], value = bytes / 1024, unit = 0;
    while (value >= 1024 && unit < units.length - 1) { value /= 1024; unit++; }
    return value.toFixed(1) + ' ' + units[unit];
  }
  function timeText(seconds) {
    if (seconds === null) return '';
    var date = new Date((seconds - EPOCH) * 1000);
    return isNaN(date.getTime()) ? '' : date.toISOString().slice(0, 19).replace('T', ' ');
  }
  function element(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function folderName(f) { return records[f][1]; }
  function pathOf(f) {
    var names = [];
    for (; f >= 0; f = parent[f]) names.push(folderName(f));
    names.reverse();
    var path = names[0];
    for (var k = 1; k < names.length; k++) path += (/\\$/.test(path) ? '' : '\\') + names[k];
    return path;
  }
  function reason(f) {
    var status = statusOf(f), why = records[f][5];
    if (status === 2) return '<cannot read this folder: ' + why + '>';
    if (status === 1) return '<cannot read the rest of this folder: ' + why + '>';
    if (status === 3) return 'This folder leads back to a folder above it: its contents are listed there.';
    if (status === 4) return about.subfolders ? 'Below the depth limit: listed, not entered.' : 'Subfolders were not catalogued.';
    return '';
  }

  // The header.
  function showFacts() {
    var starts = about.startFolders;
    document.title = 'Catalogue of ' + starts.join(', ');
    $('title').textContent = 'Catalogue of ' + starts.join(', ');
    var facts = $('facts');
    function fact(name, value) { facts.appendChild(element('dt', '', name)); facts.appendChild(element('dd', '', value)); }
    fact(starts.length === 1 ? 'Start folder' : 'Start folders', starts.join('\n'));
    fact('Made', timeText(about.made) + ' UTC by ' + about.program);
    fact('Filter', about.filter + (about.subfolders ? (about.maxDepth === null ? ', with subfolders' : ', subfolders to depth ' + about.maxDepth) : ', without subfolders'));
    fact('Excluded', about.excludes.length ? about.excludes.join('  ') + ' (' + grouped(about.excluded) + ' names left out)' : 'nothing');
    var bytes = Number(about.bytes);
    fact('Contents', counted(about.files, 'file') + ' in ' + counted(about.folders, 'folder') + ', ' + sizeText(bytes) +
         (bytes >= 1024 ? ' (' + grouped(about.bytes) + ' bytes)' : ''));
    if (about.unreadFolders !== '0')
      fact('Not read', counted(about.unreadFolders, 'folder') + ' could not be read in full');
  }

  // The folder tree: nodes are made when their parent is first opened.
  var labels = new Array(count), kids = new Array(count), current = -1;
  function treeNode(f) {
    var node = element('div', 'node'), label = element('div', 'label');
    label.setAttribute('role', 'treeitem');
    label.style.paddingLeft = (records[f][0] * 16 + 4) + 'px';
    label.appendChild(element('span', 'twisty', firstChild[f] >= 0 ? '\u25B8' : ''));
    label.appendChild(element('span', 'tname', folderName(f)));
    if (statusOf(f) === 1 || statusOf(f) === 2) { label.classList.add('bad'); label.title = reason(f); }
    label.folder = f;
    labels[f] = label;
    node.appendChild(label);
    return node;
  }
  function expand(f, open) {
    if (firstChild[f] < 0) return;
    var label = labels[f];
    if (!kids[f]) {
      kids[f] = element('div', 'kids');
      var part = document.createDocumentFragment();
      for (var c = firstChild[f]; c >= 0; c = nextSibling[c]) part.appendChild(treeNode(c));
      kids[f].appendChild(part);
      label.parentNode.appendChild(kids[f]);
    }
    kids[f].hidden = !open;
    label.firstChild.textContent = open ? '\u25BE' : '\u25B8';
    label.setAttribute('aria-expanded', open ? 'true' : 'false');
  }
  function reveal(f) {
    var chain = [];
    for (var up = parent[f]; up >= 0; up = parent[up]) chain.push(up);
    for (var k = chain.length - 1; k >= 0; k--) expand(chain[k], true);
  }
  $('tree').addEventListener('click', function (event) {
    var label = event.target.closest('.label');
    if (!label) return;
    var f = label.folder;
    if (event.target.classList.contains('twisty')) expand(f, !kids[f] || kids[f].hidden);
    else { expand(f, true); openFolder(f, -1, -1); }
  });

  // A list that makes only the rows in view (and a few beyond), so that a
  // folder or a search with any number of entries shows at once.
  function VirtualRows(box, makeRow) {
    var spacer = box.appendChild(element('div', 'spacer')), size = 0;
    function draw() {
      while (box.lastChild !== spacer) box.removeChild(box.lastChild);
      var first = Math.max(0, Math.floor(box.scrollTop / ROW) - 10);
      var last = Math.min(size, Math.ceil((box.scrollTop + box.clientHeight) / ROW) + 10);
      var part = document.createDocumentFragment();
      for (var k = first; k < last; k++) {
        var row = makeRow(k);
        row.style.top = k * ROW + 'px';
        row.index = k;
        part.appendChild(row);
      }
      box.appendChild(part);
    }
    box.addEventListener('scroll', draw);
    window.addEventListener('resize', draw);
    // Shows `rows` rows, with row `middle` (when not -1) in the middle of the view.
    this.show = function (rows, middle) {
      size = rows;
      spacer.style.height = rows * ROW + 'px';
      box.scrollTop = middle >= 0 ? Math.max(0, middle * ROW - box.clientHeight / 2) : 0;
      draw();
    };
    this.draw = draw;
  }

  // The chosen folder's table: subfolders first, then files.
  var rows = [], sortKey = null, sortDown = false, selected = -1;
  var table = new VirtualRows($('rows'), function (k) {
    var entry = rows[k], row = element('div', entry.folder >= 0 ? 'row dir' : 'row');
    if (k === selected) row.classList.add('selected');
    row.appendChild(element('span', 'name', entry.name));
    var size = row.appendChild(element('span', 'size', entry.folder >= 0 ? '' : sizeText(entry.size)));
    if (entry.folder < 0) size.title = grouped(entry.size) + (entry.size === 1 ? ' byte' : ' bytes');
    row.appendChild(element('span', 'time', timeText(entry.time)));
    return row;
  });
  function folderRows(f) {
    var list = [], c;
    for (c = firstChild[f]; c >= 0; c = nextSibling[c])
      list.push({ name: records[c][1], size: -1, time: numbers(c, 0).time, folder: c, file: -1 });
    var names = fileNames(f), values = numbers(f, names.length);
    for (var k = 0; k < names.length; k++)
      list.push({ name: names[k], size: values.sizes[k], time: values.times[k], folder: -1, file: k });
    return list;
  }
  function compareRows(a, b) {
    if ((a.folder < 0) !== (b.folder < 0)) return a.folder < 0 ? 1 : -1;
    var x, y;
    if (sortKey === 'name') { x = a.low || (a.low = a.name.toLowerCase()); y = b.low || (b.low = b.name.toLowerCase()); }
    else if (sortKey === 'size') { x = a.size; y = b.size; }
    else { x = a.time === null ? -Infinity : a.time; y = b.time === null ? -Infinity : b.time; }
    var order = x < y ? -1 : x > y ? 1 : 0;
    return sortDown ? -order : order;
  }
  // Shows folder `f`, with the row of its file `file` (when not -1) or of
  // its subfolder `sub` (when not -1) selected.
  function openFolder(f, file, sub) {
    if (current >= 0) labels[current].classList.remove('current');
    current = f;
    reveal(f);
    labels[f].classList.add('current');
    $('where').textContent = pathOf(f);
    $('note').textContent = reason(f);
    rows = folderRows(f);
    if (sortKey) rows.sort(compareRows);
    selected = -1;
    for (var k = 0; k < rows.length && (file >= 0 || sub >= 0); k++)
      if ((file >= 0 && rows[k].file === file) || (sub >= 0 && rows[k].folder === sub)) selected = k;
    showResults(false);
    table.show(rows.length, selected);
  }
  $('rows').addEventListener('click', function (event) {
    var row = event.target.closest('.row');
    if (!row) return;
    // The rows stay as they are, so that a second click lands on the same one.
    var before = $('rows').querySelector('.selected');
    if (before) before.classList.remove('selected');
    row.classList.add('selected');
    selected = row.index;
  });
  $('rows').addEventListener('dblclick', function (event) {
    var row = event.target.closest('.row');
    if (row && rows[row.index].folder >= 0) openFolder(rows[row.index].folder, -1, -1);
  });
  $('head').addEventListener('click', function (event) {
    var key = event.target.dataset && event.target.dataset.key;
    if (!key) return;
    sortDown = sortKey === key ? !sortDown : false;
    sortKey = key;
    var spans = $('head').children;
    for (var k = 0; k < spans.length; k++)
      spans[k].className = spans[k].className.replace(/ ?(up|down)/g, '') + (spans[k].dataset.key === key ? (sortDown ? ' down' : ' up') : '');
    var keep = selected >= 0 ? rows[selected] : null;
    rows.sort(compareRows);
    selected = keep ? rows.indexOf(keep) : -1;
    table.draw();
  });

  // The search index: every name but the start folders' in one lower-case
  // text, each after a NUL (which no name holds); a name is a slot, and a
  // folder's slots are its own name then its files'.
  var lower = null, starts = null, slotBase = null;
  function buildIndex() {
    var parts = new Array(count), slots = 0;
    slotBase = new Int32Array(count + 1);
    for (var f = 0; f < count; f++) {
      slotBase[f] = slots;
      var files = records[f][3], own = records[f][0] > 0 ? records[f][1] : '';
      if (typeof files !== 'string') { parts[f] = [own].concat(files).join('\0'); slots += 1 + files.length; continue; }
      parts[f] = files ? own + '\0' + files.split('/').join('\0') : own;
      slots += 1;
      for (var at = files ? 0 : -1; at >= 0; at = files.indexOf('/', at) + 1 || -1) slots++;
    }
    slotBase[count] = slots;
    lower = ('\0' + parts.join('\0') + '\0').toLowerCase();
    starts = new Int32Array(slots + 1);
    for (var s = 0, p = 0; s <= slots; s++) { starts[s] = p + 1; p = lower.indexOf('\0', p + 1); }
  }
  // The last index in `list` whose value is at most `value`.
  function below(list, value, size) {
    var low = 0, high = size - 1;
    while (low < high) { var mid = (low + high + 1) >> 1; if (list[mid] <= value) low = mid; else high = mid - 1; }
    return low;
  }
  function wildcardRule(pattern) {
    return new RegExp('^' + Array.from(pattern).map(function (c) {
      return c === '*' ? '[^]*' : c === '?' ? '[^]' : c.replace(/[\\^$.+()[\]{}|\/]/, '\\$&');
    }).join('') + '$', 'u');
  }
  // Plain text matches anywhere in a name; with * or ? the whole name must match.
  function search(query) {
    if (!lower) buildIndex();
    var q = query.toLowerCase(), slots = slotBase[count], found = [], total = 0;
    function take(s) {
      var f = below(slotBase, s, count + 1);
      if (s === slotBase[f] && records[f][0] === 0) return;  // a start folder is no entry
      total++;
      if (found.length < RESULT_CAP) found.push(s);
    }
    function nameAt(s) { return lower.slice(starts[s], starts[s + 1] - 1); }
    var wild = /[*?]/.test(q), rule = wild ? wildcardRule(q) : null;
    var literal = wild ? q.split(/[*?]/).reduce(function (a, b) { return b.length > a.length ? b : a; }, '') : q;
    if (literal) {
      for (var p = lower.indexOf(literal); p >= 0; ) {
        var s = below(starts, p, slots + 1);
        if (!rule || rule.test(nameAt(s))) take(s);
        p = lower.indexOf(literal, starts[s + 1]);
      }
    } else {
      for (s = 0; s < slots; s++) if (rule.test(nameAt(s))) take(s);
    }
    return { found: found, total: total };
  }
  // Where a slot's entry is: its folder and file (-1 for the folder's own name).
  function entryOf(s) {
    var f = below(slotBase, s, count + 1);
    return { folder: f, file: s - slotBase[f] - 1 };
  }

  var pending = 0, lastResults = null, found = [];
  var results = new VirtualRows($('resultRows'), function (k) {
    var row = element('div', 'row');
    if (k === found.length) {
      row.className = 'more';
      row.textContent = 'The first ' + grouped(RESULT_CAP) + ' matches are listed.';
      return row;
    }
    var at = entryOf(found[k]);
    if (at.file < 0) row.classList.add('dir');
    row.appendChild(element('span', 'name', at.file < 0 ? folderName(at.folder) : fileNames(at.folder)[at.file]));
    row.appendChild(element('span', 'path', at.file < 0 ? pathOf(parent[at.folder]) : pathOf(at.folder)));
    return row;
  });
  window.lastSearch = null;
  function runSearch() {
    pending = 0;
    var query = $('search').value, began = performance.now();
    if (!query) { lastResults = null; $('count').textContent = ''; showResults(false); return; }
    var result = search(query);
    found = result.found;
    $('count').textContent = (result.total === 1 ? '1 match' : grouped(result.total) + ' matches') +
      (result.total > found.length ? ' (the first ' + grouped(found.length) + ' listed)' : '');
    lastResults = query;
    showResults(true);
    results.show(found.length + (result.total > found.length ? 1 : 0), -1);
    window.lastSearch = { query: query, total: result.total, ms: performance.now() - began };
  }
  function showResults(show) {
    $('results').hidden = !show;
    $('folder').hidden = show;
    $('back').hidden = show || !lastResults || lastResults !== $('search').value;
  }
  // A search waits for the typing to pause for a moment's work: keys that
  // come while one runs replace the query, and only the last is searched.
  $('search').addEventListener('input', function () {
    if (pending) clearTimeout(pending);
    pending = setTimeout(runSearch, 0);
  });
  $('search').addEventListener('keydown', function (event) {
    if (event.key === 'Escape') { $('search').value = ''; runSearch(); }
  });
  $('back').addEventListener('click', function () { showResults(true); });
  $('resultRows').addEventListener('click', function (event) {
    var row = event.target.closest('.row');
    if (!row || row.index >= found.length) return;
    var at = entryOf(found[row.index]);
    if (at.file >= 0) openFolder(at.folder, at.file, -1);
    else openFolder(parent[at.folder], -1, at.folder);
  });

  showFacts();
  if (count > 0) {
    var tree = document.createDocumentFragment();
    roots.forEach(function (r) { tree.appendChild(treeNode(r)); });
    $('tree').appendChild(tree);
    roots.forEach(function (r) { expand(r, true); });
    openFolder(roots[0], -1, -1);
  }
  requestAnimationFrame(function () {
    performance.mark('catalogue-shown');
    // The index is made while nobody is typing yet.
    setTimeout(function () { if (!lower) buildIndex(); window.catalogueIndexed = true; }, 0);
  });
})();
