/* SPDX-License-Identifier: GPL-3.0-or-later */
// The office view: login, the live connection to the service, the views
// (lines, journal, users) and the language switch.
import { t, lang, setLanguage, onLanguage, applyStatic } from './i18n.js';
import { announce, showError, clearErrors } from './dom.js';
import { json, setCsrf, setUnauthorizedHandler, ApiError } from './api.js';
import { renderStatus, setSession, rerender, tick, lineNames } from './cards.js';
import { setupJournal, search, loadUsers, fillForm, rerenderJournal } from './journal.js';

let me = null;
let socket = null;
let reconnectTimer = 0;
let reconnectDelay = 1000;
let lost = false;
let journalLoaded = false;

function byId(id) {
  return document.getElementById(id);
}

function canChange() {
  return !!me && (me.role === 'operator' || me.role === 'admin');
}

function showWho() {
  const who = byId('who');
  if (!me) {
    who.hidden = true;
    return;
  }
  const role = { viewer: t('roleViewer'), operator: t('roleOperator'), admin: t('roleAdmin') }[me.role] || me.role;
  who.textContent = t('signedIn', me.user, role);
  who.hidden = false;
}

function setConnectionNotice(text) {
  const notice = byId('connection');
  notice.textContent = text || '';
  notice.hidden = !text;
}

function showLogin() {
  me = null;
  closeSocket();
  setConnectionNotice('');
  for (const id of ['view-lines', 'view-journal', 'view-users'])
    byId(id).hidden = true;
  byId('views').hidden = true;
  byId('logout').hidden = true;
  showWho();
  byId('login').hidden = false;
  byId('login-user').focus();
}

async function login(event) {
  event.preventDefault();
  const errorLine = byId('login-error');
  errorLine.textContent = '';
  const user = byId('login-user').value.trim();
  const password = byId('login-password').value;
  try {
    await json('POST', '/api/login', { user, password }, { quiet401: true });
  } catch (error) {
    errorLine.textContent = error instanceof ApiError && error.status === 401 ? t('loginWrong')
      : t('errorPrefix', t('actLogin'), error instanceof ApiError ? error.words() : String(error));
    return;
  }
  byId('login-password').value = '';
  await begin();
}

async function logout() {
  try {
    await json('POST', '/api/logout');
  } catch (error) {
    if (!(error instanceof ApiError && error.status === 401))
      showError(t('errorPrefix', t('logout'), error instanceof ApiError ? error.words() : String(error)));
  }
  showLogin();
}

function closeSocket() {
  clearTimeout(reconnectTimer);
  if (socket) {
    const old = socket;
    socket = null;
    old.onclose = null;
    old.close();
  }
}

function connect() {
  closeSocket();
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const live = new WebSocket(`${scheme}//${location.host}/api/live`);
  socket = live;
  live.onopen = () => {
    reconnectDelay = 1000;
    if (lost) {
      lost = false;
      setConnectionNotice('');
      announce(t('connectionBack'));
    }
  };
  live.onmessage = (event) => {
    let message;
    try {
      message = JSON.parse(event.data);
    } catch {
      return;
    }
    if (message.type === 'status' && message.status) {
      renderStatus(message.status);
    } else if (message.type === 'journal' && journalLoaded) {
      search();
    }
  };
  live.onclose = () => {
    if (socket !== live)
      return;
    socket = null;
    if (!lost) {
      lost = true;
      setConnectionNotice(t('connectionLost'));
      announce(t('connectionLost'));
    }
    reconnectTimer = setTimeout(reconnect, reconnectDelay);
    reconnectDelay = Math.min(reconnectDelay * 2, 10000);
  };
}

// Before a new socket: is the session still good? A 401 shows the login.
async function reconnect() {
  try {
    await json('GET', '/api/me', undefined, { quiet401: true });
  } catch (error) {
    if (error instanceof ApiError && error.status === 401) {
      showLogin();
      return;
    }
    reconnectTimer = setTimeout(reconnect, reconnectDelay);
    reconnectDelay = Math.min(reconnectDelay * 2, 10000);
    return;
  }
  try {
    renderStatus(await json('GET', '/api/status'));
  } catch {
    // the socket's first message brings it
  }
  connect();
}

function route() {
  if (!me)
    return;
  let view = (location.hash || '#lines').slice(1);
  if (view === 'users' && me.role !== 'admin')
    view = 'lines';
  if (!['lines', 'journal', 'users'].includes(view))
    view = 'lines';
  for (const name of ['lines', 'journal', 'users']) {
    byId(`view-${name}`).hidden = name !== view;
    const link = byId(`nav-${name}`);
    if (name === view)
      link.setAttribute('aria-current', 'page');
    else
      link.removeAttribute('aria-current');
  }
  if (view === 'journal') {
    fillForm();
    if (!journalLoaded) {
      journalLoaded = true;
      search();
    }
  }
  if (view === 'users')
    loadUsers();
}

async function begin() {
  let answer;
  try {
    answer = await json('GET', '/api/me', undefined, { quiet401: true });
  } catch (error) {
    if (error instanceof ApiError && error.status === 401) {
      showLogin();
      return;
    }
    showError(t('errorPrefix', t('actStatus'), error instanceof ApiError ? error.words() : String(error)));
    setTimeout(begin, 3000);
    return;
  }
  me = answer;
  clearErrors();
  setCsrf(me.csrf);
  setSession({ canChange: canChange() });
  byId('login').hidden = true;
  byId('views').hidden = false;
  byId('nav-users-item').hidden = me.role !== 'admin';
  byId('logout').hidden = !me.users;
  showWho();
  try {
    renderStatus(await json('GET', '/api/status'));
  } catch (error) {
    showError(t('errorPrefix', t('actStatus'), error instanceof ApiError ? error.words() : String(error)));
  }
  route();
  connect();
}

function start() {
  applyStatic();
  const select = byId('lang');
  select.value = lang();
  select.addEventListener('change', () => setLanguage(select.value));
  onLanguage(() => {
    select.value = lang();
    showWho();
    if (lost)
      setConnectionNotice(t('connectionLost'));
    rerender();
    rerenderJournal();
    if (me && me.role === 'admin' && !byId('view-users').hidden)
      loadUsers();
  });
  // A file dropped beside a drop zone must not make the browser leave the page.
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());
  setUnauthorizedHandler(showLogin);
  byId('login-form').addEventListener('submit', login);
  byId('logout').addEventListener('click', logout);
  window.addEventListener('hashchange', route);
  setupJournal(lineNames);
  setInterval(tick, 1000);
  begin();
}

start();
