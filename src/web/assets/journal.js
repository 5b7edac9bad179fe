/* SPDX-License-Identifier: GPL-3.0-or-later */
// The journal view: records found by line, file name, dates, outcome and
// direction, newest first; the same search as CSV; "was this exact file
// ever sent or received"; and, for admins, the users.
import { t, number, dateTime } from './i18n.js';
import { el, showError } from './dom.js';
import { json, request, ApiError } from './api.js';
import { outcomeWords, baseName } from './state.js';

const kOutcomes = ['sent', 'received', 'not_saved', 'data_error', 'link_broken', 'cancelled',
  'port_error', 'file_error', 'no_data', 'approved', 'rejected'];

let lineNames = () => [];
let lastRecords = null;
let lastNote = '';
let lastVerify = null;

function failed(action, error) {
  showError(t('errorPrefix', action, error instanceof ApiError ? error.words() : String(error)));
}

function query() {
  const form = document.getElementById('journal-form');
  const params = new URLSearchParams();
  for (const key of ['line', 'path', 'since', 'until', 'outcome', 'direction']) {
    const value = form.elements[key].value.trim();
    if (value)
      params.set(key, value);
  }
  return params;
}

function fillSelect(select, options) {
  const keep = select.value;
  select.replaceChildren(...options.map(([value, words]) => el('option', { value }, words)));
  if (options.some(([value]) => value === keep))
    select.value = keep;
}

export function fillForm() {
  fillSelect(document.getElementById('j-line'), [['', t('journalAll')], ...lineNames().map((name) => [name, name])]);
  fillSelect(document.getElementById('j-outcome'), [['', t('journalAll')], ...kOutcomes.map((code) => [code, outcomeWords(code)])]);
  fillSelect(document.getElementById('j-direction'), [['', t('journalAll')], ['send', t('directionSend')], ['receive', t('directionReceive')]]);
}

function renderRecords() {
  const body = document.querySelector('#journal-table tbody');
  const summary = document.getElementById('journal-summary');
  if (!lastRecords) {
    body.textContent = '';
    summary.textContent = '';
    return;
  }
  summary.textContent = (lastRecords.length ? t('journalCount', number(lastRecords.length)) : t('journalEmpty')) +
    (lastNote ? ' ' + t('journalNote', lastNote) : '');
  body.replaceChildren(...lastRecords.map((record) => el('tr', { class: `outcome-row outcome-${record.outcome}` },
    el('td', { class: 'nowrap' }, dateTime(record.ended)),
    el('td', {}, record.line || ''),
    el('td', {}, record.direction === 'send' ? t('dirSend') : record.direction === 'receive' ? t('dirReceive') : record.direction || ''),
    el('td', {}, outcomeWords(record.outcome)),
    el('td', { class: 'path', title: record.path || '' }, record.path || ''),
    el('td', { class: 'num' }, number(record.bytes || 0)),
    el('td', { class: 'mono', title: record.sha256 || '' }, record.sha256 ? record.sha256.slice(0, 12) : '–'),
    el('td', {}, record.user || ''))));
}

export async function search() {
  const params = query();
  try {
    const answer = await json('GET', '/api/journal?' + params.toString());
    lastRecords = answer.records || [];
    lastNote = answer.note || '';
  } catch (error) {
    failed(t('actJournal'), error);
    return;
  }
  renderRecords();
}

async function exportCsv() {
  const params = query();
  params.set('format', 'csv');
  try {
    const response = await request('GET', '/api/journal?' + params.toString());
    const blob = await response.blob();
    const url = URL.createObjectURL(blob);
    const link = el('a', { href: url, download: 'tapeway-journal.csv', hidden: true });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (error) {
    failed(t('actExport'), error);
  }
}

function renderVerify() {
  const result = document.getElementById('verify-result');
  if (!lastVerify) {
    result.textContent = '';
    return;
  }
  if (lastVerify.pending) {
    result.replaceChildren(el('p', {}, t('verifying', lastVerify.name)));
    return;
  }
  const { name, answer } = lastVerify;
  const records = answer.records || [];
  const head = records.length
    ? t('verifyFound', name, number(answer.bytes), answer.sha256, records.length)
    : t('verifyNever', name, number(answer.bytes), answer.sha256);
  result.replaceChildren(el('p', { class: records.length ? 'outcome-ok' : 'outcome-bad' }, head),
    records.length ? el('ul', {}, records.map((record) => el('li', {}, t('verifyRecord',
      record.direction === 'send' ? t('lastSent') : t('lastReceived'), baseName(record.path),
      record.line || '–', record.port || '', dateTime(record.ended))))) : null);
}

async function verify(file) {
  if (!file)
    return;
  lastVerify = { name: file.name, pending: true };
  renderVerify();
  try {
    const response = await request('POST', '/api/verify', file);
    lastVerify = { name: file.name, answer: await response.json() };
  } catch (error) {
    lastVerify = null;
    failed(t('actVerify', file.name), error);
  }
  renderVerify();
}

export async function loadUsers() {
  const body = document.querySelector('#users-table tbody');
  try {
    const answer = await json('GET', '/api/users');
    const users = answer.users || [];
    const roleWord = { viewer: t('roleViewer'), operator: t('roleOperator'), admin: t('roleAdmin') };
    body.replaceChildren(...(users.length ? users.map((user) => el('tr', {},
      el('td', {}, user.name), el('td', {}, roleWord[user.role] || user.role)))
      : [el('tr', {}, el('td', { colspan: 2, class: 'muted' }, t('usersNone')))]));
  } catch (error) {
    failed(t('actUsers'), error);
  }
}

export function setupJournal(names) {
  lineNames = names;
  document.getElementById('journal-form').addEventListener('submit', (event) => {
    event.preventDefault();
    search();
  });
  document.getElementById('j-export').addEventListener('click', exportCsv);
  const input = document.getElementById('verify-input');
  document.getElementById('verify-pick').addEventListener('click', () => input.click());
  input.addEventListener('change', () => {
    const file = input.files[0];
    input.value = '';
    verify(file);
  });
  const zone = document.getElementById('verify-drop');
  zone.addEventListener('dragover', (event) => {
    event.preventDefault();
    zone.classList.add('drop-over');
  });
  zone.addEventListener('dragleave', () => zone.classList.remove('drop-over'));
  zone.addEventListener('drop', (event) => {
    event.preventDefault();
    event.stopPropagation();
    zone.classList.remove('drop-over');
    verify(event.dataTransfer && event.dataTransfer.files[0]);
  });
}

export function rerenderJournal() {
  fillForm();
  renderRecords();
  renderVerify();
}
