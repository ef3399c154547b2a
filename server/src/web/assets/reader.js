// Folioway's reader for phones and browsers. Book text is only ever set as text (textContent),
// never parsed as markup; every request that changes something carries the page's token.
'use strict';

const $ = (id) => document.getElementById(id);
const state = { token: '', name: '', book: null, chapter: 1, lines: [], pages: 1, pageIndex: 0, fraction: 0,
                sendTimer: 0, wake: null, catalogue: { page: 1, pages: 1, type: '', key: '' }, pendingFraction: null };
const settings = Object.assign({ mode: 'paged', font: 19, leading: 1.8, theme: 'auto', script: '', awake: false },
                               JSON.parse(localStorage.getItem('folioway.settings') || '{}'));
const browserId = localStorage.getItem('folioway.browser') ||
                  (() => { const id = Math.random().toString(36).slice(2, 12); localStorage.setItem('folioway.browser', id); return id; })();

function show(view) {
  for (const v of ['login', 'library', 'reader']) $(v).hidden = v !== view;
}

function status(text) {
  $('status').textContent = text || '';
}

async function api(method, path, form, retried) {
  const options = { method, headers: {}, credentials: 'same-origin' };
  if (method !== 'GET') {
    options.headers['X-Folioway-Token'] = state.token;
    options.headers['Content-Type'] = 'application/x-www-form-urlencoded; charset=utf-8';
    options.body = new URLSearchParams(form || {}).toString();
    options.keepalive = true;
  }
  let answer;
  try {
    answer = await fetch('api/' + path, options);
  } catch (e) {
    throw new Error('无法连接服务器，请检查网络。');
  }
  // The server was restarted since the token was given: take the new one and try once more.
  if (answer.status === 403 && method !== 'GET' && !retried) {
    const session = await (await fetch('api/session', { credentials: 'same-origin', cache: 'no-store' })).json();
    state.token = session.token;
    return api(method, path, form, true);
  }
  if (answer.status === 401) {
    show('login');
    throw new Error('请先登录。');
  }
  const type = answer.headers.get('Content-Type') || '';
  if (!type.startsWith('application/json')) {
    if (!answer.ok) throw new Error('服务器出错（' + answer.status + '），请稍后再试。');
    return answer.text();
  }
  const body = await answer.json();
  if (!answer.ok || body.ok === false) throw new Error(body.message || '服务器出错，请稍后再试。');
  return body;
}

function saveSettings() {
  localStorage.setItem('folioway.settings', JSON.stringify(settings));
}

// ---- login and the library ----

async function start() {
  try {
    const s = await api('GET', 'session');
    state.token = s.token;
    state.name = s.name;
    $('scriptRow').hidden = !s.script;
    if (s.login) openLibrary(); else show('login');
  } catch (e) {
    show('login');
    $('loginMessage').textContent = e.message;
  }
}

async function login(event) {
  event.preventDefault();
  $('loginMessage').textContent = '';
  $('loginButton').disabled = true;
  try {
    await api('POST', 'login', { username: $('username').value.trim(), password: $('password').value,
                                 remember: $('remember').checked ? '1' : '0' });
    $('password').value = '';
    const s = await api('GET', 'session');
    state.token = s.token;
    openLibrary();
  } catch (e) {
    $('loginMessage').textContent = e.message;
  } finally {
    $('loginButton').disabled = false;
  }
}

function bookItem(entry, away) {
  const li = document.createElement('li');
  const info = document.createElement('div');
  info.className = 'info';
  const name = document.createElement('div');
  name.className = 'name';
  name.textContent = entry.name || '（无书名）';
  const meta = document.createElement('div');
  meta.className = 'meta';
  const parts = [entry.author || '佚名', entry.category || ''];
  if (entry.percent !== undefined) parts.push('已读 ' + entry.percent + '%');
  if (away) parts.push('只在电脑上');
  meta.textContent = parts.filter(Boolean).join(' · ');
  info.append(name, meta);
  li.append(info);
  if (away) {
    li.className = 'away';
    li.title = '这本书只在电脑上：在电脑上的书架里右键点它，选“放到我的服务器”，就能在这里阅读。';
  } else {
    li.dataset.book = entry.book || entry.id;
    info.addEventListener('click', () => openBook(li.dataset.book, entry.name));
  }
  return li;
}

async function openLibrary() {
  show('library');
  selectTab('shelf');
}

function selectTab(which) {
  $('tabShelf').setAttribute('aria-pressed', which === 'shelf');
  $('tabCatalogue').setAttribute('aria-pressed', which === 'catalogue');
  $('shelfPane').hidden = which !== 'shelf';
  $('cataloguePane').hidden = which !== 'catalogue';
  if (which === 'shelf') loadShelf(); else loadCatalogue();
}

async function loadShelf() {
  $('shelfMessage').textContent = '';
  try {
    const answer = await api('GET', 'shelf');
    const list = $('shelfList');
    list.replaceChildren(...answer.books.map((b) => bookItem(b, !b.book)));
    if (!answer.books.length) $('shelfMessage').textContent = '书架是空的：在“书库”里把书加入书架，或在电脑上登录同一账号并同步。';
  } catch (e) {
    $('shelfMessage').textContent = e.message;
  }
}

async function loadCatalogue() {
  const c = state.catalogue;
  $('catalogueMessage').textContent = '';
  try {
    const query = new URLSearchParams({ page: c.page, type: c.type, key: c.key });
    const answer = await api('GET', 'books?' + query);
    if ($('category').options.length === 0) {
      for (const name of answer.categories) $('category').append(new Option(name, name));
    }
    c.pages = answer.pages;
    $('pageInfo').textContent = '第 ' + answer.page + ' / ' + answer.pages + ' 页';
    $('prevPage').disabled = answer.page <= 1;
    $('nextPage').disabled = answer.page >= answer.pages;
    $('catalogueList').replaceChildren(...answer.books.map((b) => {
      const li = bookItem(b, false);
      const add = document.createElement('button');
      add.type = 'button';
      add.textContent = '加入书架';
      add.addEventListener('click', async () => {
        try {
          await api('POST', 'shelf', { book: b.id });
          add.textContent = '已加入';
          add.disabled = true;
        } catch (e) { status(e.message); }
      });
      li.append(add);
      return li;
    }));
    if (!answer.books.length) $('catalogueMessage').textContent = '没有找到书。';
  } catch (e) {
    $('catalogueMessage').textContent = e.message;
  }
}

// ---- the reading page ----

function placeKey() { return 'folioway.place.' + state.book.id; }

// A chapter's address: the list it belongs to (the way the book is read, as chosen on the
// computer) and the script it is shown in.
function chapterPath(book, n) {
  const query = new URLSearchParams();
  if (book.rule !== undefined) query.set('rule', book.rule); // without it: the list the book is read by now
  if (settings.script) query.set('script', settings.script);
  const text = query.toString();
  return 'book/' + book.id + '/' + n + (text ? '?' + text : '');
}

// A chapter's text and the rule of the list it was cut from.
async function fetchChapter(book, n) {
  let answer;
  try {
    answer = await fetch('api/' + chapterPath(book, n), { credentials: 'same-origin' });
  } catch (e) {
    throw new Error('无法连接服务器，请检查网络。');
  }
  if (answer.status === 401) {
    show('login');
    throw new Error('请先登录。');
  }
  if (!answer.ok) {
    let message = '服务器出错（' + answer.status + '），请稍后再试。';
    try { message = (await answer.json()).message || message; } catch (e) { /* not JSON */ }
    throw new Error(message);
  }
  return { text: await answer.text(), rule: answer.headers.get('X-Folioway-Rule') || '' };
}

function percentAt(chapter, fraction) {
  const b = state.book;
  const c = b.chapters[chapter - 1];
  if (!c || !b.lineCount) return 0;
  const read = c[1] + fraction * (c[2] - c[1] + 1);
  return Math.max(0, Math.min(100, Math.floor(read * 100 / b.lineCount)));
}

async function openBook(id, name) {
  status('正在打开…');
  try {
    // A place kept here counts chapters of the list it was read in.
    const local = JSON.parse(localStorage.getItem('folioway.place.' + id) || 'null');
    // The chapter to start at is asked for beside the list and shown first: on a slow line the
    // list of a long book comes well after it.
    const early = fetchChapter({ id, rule: local ? local.rule || '' : undefined }, local ? local.chapter : 1)
      .catch(() => null);
    const listed = api('GET', 'book/' + encodeURIComponent(id));
    const first = await early;
    if (first) {
      state.book = { id: Number(id), rule: first.rule, chapters: null };
      $('bookTitle').textContent = name || '';
      $('tocList').replaceChildren();
      show('reader');
      render(local ? local.chapter : 1, first.text, null, local ? local.fraction : 0);
    }
    const book = await listed;
    state.book = book;
    $('bookTitle').textContent = book.name;
    $('tocList').replaceChildren(...book.chapters.map((c, i) => {
      const li = document.createElement('li');
      li.textContent = c[0];
      li.addEventListener('click', () => { $('tocPanel').hidden = true; showChapter(i + 1, 0); });
      return li;
    }));
    show('reader');
    const kept = local && (local.rule || '') === (book.rule || '') && local.chapter <= book.chapters.length ? local : null;
    const start = kept || { chapter: 1, fraction: 0 };
    if (first && first.rule === (book.rule || '') && state.chapter === start.chapter)
      render(start.chapter, first.text, book.chapters[start.chapter - 1][0], state.fraction);
    else await showChapter(start.chapter, start.fraction);
    offerPlace(book.place, kept);
    status(book.notice || '');
    keepForOffline(book);
  } catch (e) {
    status(e.message);
  }
}

// A place read elsewhere is offered, never jumped to.
function offerPlace(place, local) {
  $('offer').hidden = true;
  if (!place || place.browser === browserId || !place.chapter || place.chapter > state.book.chapters.length) return;
  if (local && local.changed >= place.changed) return;
  if (place.chapter === state.chapter && Math.abs(place.fraction - state.fraction) < 0.001) return;
  const title = state.book.chapters[place.chapter - 1][0];
  $('offerText').textContent = '在另一台设备上读到：' + title + '（' + place.percent + '%），来自' +
                               (place.device || '电脑');
  $('offer').hidden = false;
  $('offerGo').onclick = () => { $('offer').hidden = true; showChapter(place.chapter, place.fraction); };
}

async function showChapter(number, fraction) {
  const chapter = await fetchChapter(state.book, number);
  render(number, chapter.text, state.book.chapters[number - 1][0], fraction);
}

// Shows a chapter's text. Without a title (the list has not come yet) its heading line is the
// title; the first entry's title is the book's first line, which is not in its text.
function render(number, text, heading, fraction) {
  const b = state.book;
  const count = b.chapters ? b.chapters.length : number;
  state.chapter = number;
  const page = $('page');
  const lines = text.split('\n');
  const title = document.createElement('h3');
  title.textContent = heading !== null ? heading : number > 1 ? (lines[0] || '').trim() : '';
  const nodes = [title];
  // The heading line is the chapter's first line; it is shown once, as the title.
  if (lines.length && lines[0].trim() === title.textContent.trim()) lines.shift();
  for (const line of lines) {
    if (!line.trim()) continue;
    const p = document.createElement('p');
    p.textContent = line;
    nodes.push(p);
  }
  if (settings.mode === 'scroll') {
    const end = document.createElement('div');
    end.className = 'end';
    const next = document.createElement('button');
    next.type = 'button';
    next.textContent = number < count ? '下一章' : '全书完';
    next.disabled = number >= count;
    next.addEventListener('click', () => showChapter(number + 1, 0));
    end.append(next);
    nodes.push(end);
  }
  page.replaceChildren(...nodes);
  for (const li of $('tocList').children) li.classList.remove('current');
  const current = $('tocList').children[number - 1];
  if (current) current.classList.add('current');
  layout(fraction);
}

function layout(fraction) {
  const reader = $('reader');
  reader.classList.toggle('paged', settings.mode === 'paged');
  reader.classList.toggle('scroll', settings.mode === 'scroll');
  const page = $('page');
  const viewport = $('viewport');
  page.style.transform = '';
  if (settings.mode === 'paged') {
    const width = viewport.clientWidth;
    page.style.columnWidth = (width - 36) + 'px';
    page.style.width = width + 'px';
    state.pages = Math.max(1, Math.round((page.scrollWidth + 36) / width));
    state.pageIndex = Math.min(state.pages - 1, Math.round(fraction * (state.pages - 1)));
    turnTo(state.pageIndex);
  } else {
    page.style.columnWidth = '';
    page.style.width = '';
    const range = viewport.scrollHeight - viewport.clientHeight;
    viewport.scrollTop = range > 0 ? fraction * range : 0;
    moved(fraction);
  }
}

function turnTo(index) {
  state.pageIndex = index;
  $('page').style.transform = 'translateX(' + (-index * $('viewport').clientWidth) + 'px)';
  moved(state.pages > 1 ? index / (state.pages - 1) : 0);
}

async function turn(step) {
  if (settings.mode !== 'paged') {
    const viewport = $('viewport');
    viewport.scrollBy({ top: step * (viewport.clientHeight - 40) });
    return;
  }
  const next = state.pageIndex + step;
  if (next >= 0 && next < state.pages) return turnTo(next);
  const chapter = state.chapter + step;
  if (!state.book.chapters) return;
  if (chapter < 1 || chapter > state.book.chapters.length) {
    status(step > 0 ? '已经是最后一页' : '已经是第一页');
    return;
  }
  await showChapter(chapter, step > 0 ? 0 : 1);
}

// The place changed: shown at once, kept here, and sent once the reader stops for a moment.
function moved(fraction) {
  state.fraction = Math.max(0, Math.min(1, fraction));
  const b = state.book;
  if (!b.chapters) return; // shown before its list came: nothing to count or keep yet
  const pageText = settings.mode === 'paged' ? '　' + (state.pageIndex + 1) + '/' + state.pages + '页' : '';
  $('position').replaceChildren(...['第 ' + state.chapter + ' / ' + b.chapters.length + ' 章' + pageText,
                                     percentAt(state.chapter, state.fraction) + '%'].map((t) => {
    const s = document.createElement('span');
    s.textContent = t;
    return s;
  }));
  const kept = JSON.parse(localStorage.getItem(placeKey()) || 'null');
  if (kept && kept.chapter === state.chapter && Math.abs(kept.fraction - state.fraction) < 1e-6) return;
  const place = { chapter: state.chapter, fraction: state.fraction, rule: b.rule || '', changed: Date.now(), sent: false };
  localStorage.setItem(placeKey(), JSON.stringify(place));
  clearTimeout(state.sendTimer);
  state.sendTimer = setTimeout(sendPlace, 1500);
}

async function sendPlace() {
  clearTimeout(state.sendTimer);
  if (state.book && !(await sendKept(placeKey())))
    status('暂时无法连接服务器：阅读位置已保存在本机，联网后发送。');
}

// Sends the place kept under key unless it went already; true when the server has it.
async function sendKept(key) {
  const place = JSON.parse(localStorage.getItem(key) || 'null');
  if (!place || place.sent) return true;
  try {
    await api('POST', 'book/' + key.slice('folioway.place.'.length) + '/place',
              { chapter: place.chapter, fraction: place.fraction.toFixed(6), rule: place.rule || '', changed: place.changed,
                browser: browserId });
  } catch (e) {
    return false;
  }
  // A place changed meanwhile still waits for its own turn.
  const now = JSON.parse(localStorage.getItem(key) || 'null');
  if (now && now.changed === place.changed) {
    now.sent = true;
    localStorage.setItem(key, JSON.stringify(now));
  }
  document.body.dataset.placeSent = place.chapter + ':' + place.fraction.toFixed(4);
  return true;
}

// ---- without a connection ----

// Every chapter of the open book is read once through the service worker, which keeps it.
async function keepForOffline(book) {
  if (!('serviceWorker' in navigator)) return;
  try {
    await navigator.serviceWorker.ready;
    if (!navigator.serviceWorker.controller)
      await new Promise((done) => navigator.serviceWorker.addEventListener('controllerchange', done, { once: true }));
    for (const path of ['session', 'shelf', 'book/' + book.id])
      await fetch('api/' + path, { credentials: 'same-origin' });
    for (let n = 1; n <= book.chapters.length; n++) {
      if (!state.book || state.book.id !== book.id) return;
      const answer = await fetch('api/' + chapterPath(book, n), { credentials: 'same-origin' });
      if (!answer.ok) return;
    }
    document.body.dataset.offline = book.id;
  } catch (e) {
    /* reading goes on; only the copy for later is incomplete */
  }
}

// Places kept while the server could not be reached go out once it can.
async function sendWaitingPlaces() {
  const keys = [];
  for (let i = 0; i < localStorage.length; i++) {
    if (localStorage.key(i).startsWith('folioway.place.')) keys.push(localStorage.key(i));
  }
  for (const key of keys) {
    if (!(await sendKept(key))) return;
  }
  status('');
}

// ---- settings ----

function applySettings() {
  document.body.className = 'theme-' + settings.theme;
  document.documentElement.style.setProperty('--font', settings.font + 'px');
  document.documentElement.style.setProperty('--leading', settings.leading);
  $('fontSize').textContent = settings.font;
  $('lineHeight').textContent = settings.leading.toFixed(1);
  for (const b of document.querySelectorAll('[data-mode]')) b.setAttribute('aria-pressed', b.dataset.mode === settings.mode);
  for (const b of document.querySelectorAll('[data-theme]')) b.setAttribute('aria-pressed', b.dataset.theme === settings.theme);
  for (const b of document.querySelectorAll('[data-script]')) b.setAttribute('aria-pressed', b.dataset.script === settings.script);
  $('keepAwake').checked = settings.awake;
  saveSettings();
}

function changed(update, reload) {
  update();
  applySettings();
  if (!state.book || $('reader').hidden) return;
  if (reload) showChapter(state.chapter, state.fraction); else layout(state.fraction);
}

async function keepAwake() {
  if (!settings.awake || document.hidden || !('wakeLock' in navigator)) return;
  try { state.wake = await navigator.wakeLock.request('screen'); } catch (e) { status('此浏览器不支持屏幕常亮'); }
}

function wire() {
  $('loginForm').addEventListener('submit', login);
  $('tabShelf').addEventListener('click', () => selectTab('shelf'));
  $('tabCatalogue').addEventListener('click', () => selectTab('catalogue'));
  $('logoutButton').addEventListener('click', async () => {
    try { await api('POST', 'logout'); } catch (e) { /* the login page follows either way */ }
    show('login');
  });
  $('searchForm').addEventListener('submit', (e) => {
    e.preventDefault();
    Object.assign(state.catalogue, { page: 1, key: $('searchKey').value.trim(), type: $('category').value });
    loadCatalogue();
  });
  $('category').addEventListener('change', () => {
    Object.assign(state.catalogue, { page: 1, key: '', type: $('category').value });
    $('searchKey').value = '';
    loadCatalogue();
  });
  $('prevPage').addEventListener('click', () => { state.catalogue.page--; loadCatalogue(); });
  $('nextPage').addEventListener('click', () => { state.catalogue.page++; loadCatalogue(); });
  $('backButton').addEventListener('click', () => { sendPlace(); state.book = null; openLibrary(); });
  $('tocButton').addEventListener('click', () => {
    $('tocPanel').hidden = false;
    const current = $('tocList').children[state.chapter - 1];
    if (current) current.scrollIntoView({ block: 'center' });
  });
  $('tocClose').addEventListener('click', () => { $('tocPanel').hidden = true; });
  $('settingsButton').addEventListener('click', () => { $('settingsPanel').hidden = false; });
  $('settingsClose').addEventListener('click', () => { $('settingsPanel').hidden = true; });
  $('offerClose').addEventListener('click', () => { $('offer').hidden = true; });
  for (const b of document.querySelectorAll('[data-mode]'))
    b.addEventListener('click', () => changed(() => { settings.mode = b.dataset.mode; }, true));
  for (const b of document.querySelectorAll('[data-theme]'))
    b.addEventListener('click', () => changed(() => { settings.theme = b.dataset.theme; }, false));
  for (const b of document.querySelectorAll('[data-script]'))
    b.addEventListener('click', () => changed(() => { settings.script = b.dataset.script; }, true));
  $('fontSmaller').addEventListener('click', () => changed(() => { settings.font = Math.max(12, settings.font - 1); }, false));
  $('fontLarger').addEventListener('click', () => changed(() => { settings.font = Math.min(40, settings.font + 1); }, false));
  $('lineTighter').addEventListener('click', () => changed(() => { settings.leading = Math.max(1.2, settings.leading - 0.1); }, false));
  $('lineLooser').addEventListener('click', () => changed(() => { settings.leading = Math.min(3, settings.leading + 0.1); }, false));
  $('keepAwake').addEventListener('change', () => {
    changed(() => { settings.awake = $('keepAwake').checked; }, false);
    if (settings.awake) keepAwake(); else if (state.wake) { state.wake.release(); state.wake = null; }
  });

  // Paged: a tap on the left or right third turns, the middle shows or hides the bars; a swipe turns.
  const viewport = $('viewport');
  let touch = null;
  viewport.addEventListener('touchstart', (e) => { touch = { x: e.touches[0].clientX, y: e.touches[0].clientY }; }, { passive: true });
  viewport.addEventListener('touchend', (e) => {
    if (!touch || settings.mode !== 'paged') return;
    const dx = e.changedTouches[0].clientX - touch.x;
    const dy = e.changedTouches[0].clientY - touch.y;
    touch = null;
    if (Math.abs(dx) > 40 && Math.abs(dx) > Math.abs(dy)) {
      e.preventDefault();
      turn(dx < 0 ? 1 : -1);
    }
  });
  viewport.addEventListener('click', (e) => {
    if (e.target.closest('button')) return;
    const third = viewport.clientWidth / 3;
    const x = e.clientX - viewport.getBoundingClientRect().left;
    if (x < third) turn(-1);
    else if (x > 2 * third) turn(1);
    else $('reader').classList.toggle('immersive');
  });
  viewport.addEventListener('scroll', () => {
    if (settings.mode !== 'scroll') return;
    const range = viewport.scrollHeight - viewport.clientHeight;
    moved(range > 0 ? viewport.scrollTop / range : 0);
  }, { passive: true });
  document.addEventListener('keydown', (e) => {
    if ($('reader').hidden || !$('tocPanel').hidden || !$('settingsPanel').hidden) return;
    if (e.key === 'ArrowRight' || e.key === 'PageDown' || e.key === ' ') { e.preventDefault(); turn(1); }
    if (e.key === 'ArrowLeft' || e.key === 'PageUp') { e.preventDefault(); turn(-1); }
  });
  // A new size (the window, the offer bar, the bars hidden) lays the chapter out again at the same place.
  let laidOut = '';
  new ResizeObserver(() => {
    const size = viewport.clientWidth + 'x' + viewport.clientHeight;
    if (size === laidOut) return;
    laidOut = size;
    if (state.book && !$('reader').hidden && viewport.clientWidth) layout(state.fraction);
  }).observe(viewport);
  // Leaving the page or the app sends the place at once.
  document.addEventListener('visibilitychange', () => {
    if (document.hidden) sendPlace(); else keepAwake();
  });
  window.addEventListener('pagehide', sendPlace);
}

applySettings();
wire();
window.addEventListener('online', sendWaitingPlaces);
if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
start().then(sendWaitingPlaces);
