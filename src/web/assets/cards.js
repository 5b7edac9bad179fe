/* SPDX-License-Identifier: GPL-3.0-or-later */
// One card per line: its state in words, live; for a line that sends, its
// queue (drop a file on the card or pick one to add, reorder, remove); the
// line's folders below.
import { t, dateTime, number } from './i18n.js';
import { el, icon, announce, showError, ask } from './dom.js';
import { json, request, linePath, ApiError } from './api.js';
import { stateOf, modeWords, protocolWords, lastWords, requestWords, sends, baseName } from './state.js';
import { folderPanel } from './folders.js';

const cards = new Map(); // line name -> card record
let session = { canChange: false };
let statusAt = 0; // when the shown status arrived (performance.now())
let lastLines = [];
let lastStatus = null;
let cardsMade = 0; // for ids unique on the page

export function setSession(next) {
  session = next;
}

function failed(action, error) {
  const words = error instanceof ApiError ? error.words() : String(error);
  showError(t('errorPrefix', action, words));
}

function field(label, valueNode) {
  return [el('dt', {}, label), el('dd', {}, valueNode)];
}

function makeCard(line) {
  const id = `line-${++cardsMade}`;
  const card = {
    name: line.name,
    queueNames: [],
    queueKey: '',
    announced: '',
    busyUpload: 0,
  };
  card.title = el('h2', { id: `${id}-title`, class: 'card-title' }, line.name);
  card.facts = el('dl', { class: 'facts' });
  card.stateText = el('p', { class: 'state-text' });
  card.progress = el('progress', { max: 100, class: 'progress', hidden: true });
  card.details = el('dl', { class: 'facts facts-wide' });
  card.element = el('article', { class: 'card', 'aria-labelledby': `${id}-title`, 'data-line': line.name },
    card.title,
    card.facts,
    el('div', { class: 'state' }, card.stateText, card.progress),
    card.details);
  if (sends(line))
    addQueue(card, line, id);
  card.folders = folderPanel(line, () => session.canChange);
  card.element.append(card.folders.element);
  return card;
}

function addQueue(card, line, id) {
  card.queueTitle = el('h3', { id: `${id}-queue`, class: 'queue-title' });
  card.queueList = el('ol', { class: 'queue', 'aria-labelledby': `${id}-queue` });
  card.uploadState = el('p', { class: 'upload-state', role: 'status' });
  card.input = el('input', { type: 'file', multiple: true, class: 'visually-hidden', tabindex: -1, 'aria-hidden': 'true', 'data-role': 'pick' });
  card.input.addEventListener('change', () => {
    const files = [...card.input.files];
    card.input.value = '';
    queueFiles(card, files);
  });
  card.pick = el('button', { type: 'button', class: 'button', onclick: () => card.input.click() }, icon('upload'), el('span', {}));
  card.dropHint = el('p', { class: 'drop-hint' });
  card.dropArea = el('div', { class: 'drop-area' }, card.dropHint, card.pick, card.input);
  card.queueBox = el('section', { class: 'queue-box', 'aria-labelledby': `${id}-queue` },
    card.queueTitle, card.queueList, card.dropArea, card.uploadState);
  card.element.append(card.queueBox);

  const element = card.element;
  const carriesFiles = (event) => event.dataTransfer && [...event.dataTransfer.types].includes('Files');
  element.addEventListener('dragenter', (event) => {
    if (!session.canChange || !carriesFiles(event))
      return;
    event.preventDefault();
    element.classList.add('drop-over');
  });
  element.addEventListener('dragover', (event) => {
    if (!session.canChange || !carriesFiles(event))
      return;
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
    element.classList.add('drop-over');
  });
  element.addEventListener('dragleave', (event) => {
    if (!element.contains(event.relatedTarget))
      element.classList.remove('drop-over');
  });
  element.addEventListener('drop', (event) => {
    element.classList.remove('drop-over');
    if (!session.canChange)
      return;
    event.preventDefault();
    event.stopPropagation();
    queueFiles(card, [...(event.dataTransfer ? event.dataTransfer.files : [])]);
  });
}

function setUpload(card, words) {
  card.uploadWords = words;
  card.uploadState.textContent = words ? words() : '';
}

async function queueFiles(card, files) {
  for (const file of files) {
    const name = file.name;
    if (card.queueNames.includes(name) && !(await ask(t('askReplace', name, card.name), t('replace'))))
      continue;
    card.busyUpload += 1;
    setUpload(card, () => t('uploading', name));
    try {
      const response = await request('PUT', linePath(card.name, 'outbox', name), file);
      const key = response.status === 201 ? 'queued' : 'replaced';
      setUpload(card, () => t(key, name, card.name));
      announce(t(key, name, card.name));
    } catch (error) {
      setUpload(card, null);
      failed(t('actQueue', name), error);
    } finally {
      card.busyUpload -= 1;
    }
    await refreshQueue(card);
  }
}

async function refreshQueue(card) {
  if (!card.queueList)
    return;
  const asked = (card.queueAsked = (card.queueAsked || 0) + 1);
  try {
    const answer = await json('GET', linePath(card.name, 'outbox'));
    if (asked !== card.queueAsked)
      return; // a later listing is on its way
    card.queueNames = (answer.files || []).map((entry) => entry.name);
    renderQueue(card, answer.files || []);
  } catch (error) {
    if (!(error instanceof ApiError && error.status === 401))
      failed(t('actList'), error);
  }
}

function renderQueue(card, files) {
  const focused = document.activeElement && card.queueList.contains(document.activeElement)
    ? document.activeElement.dataset.focusKey : '';
  card.queueTitle.textContent = t('queueTitle', card.name);
  card.listed = files.length;
  if (card.queueCount)
    card.queueCount.textContent = t('queueCount', number(files.length));
  const line = card.line || {};
  const beingSent = line.state === 'sending' ? baseName(line.file) : '';
  card.queueList.textContent = '';
  if (!files.length)
    card.queueList.append(el('li', { class: 'queue-empty muted' }, t('queueEmpty')));
  files.forEach((entry, index) => {
    const name = entry.name;
    const buttons = [];
    if (session.canChange) {
      buttons.push(
        el('button', { type: 'button', class: 'button button-icon', 'aria-label': t('moveUp', name), title: t('moveUp', name),
          disabled: index === 0, 'data-focus-key': `up:${name}`, onclick: () => move(card, index, -1) }, icon('up')),
        el('button', { type: 'button', class: 'button button-icon', 'aria-label': t('moveDown', name), title: t('moveDown', name),
          disabled: index === files.length - 1, 'data-focus-key': `down:${name}`, onclick: () => move(card, index, 1) }, icon('down')),
        el('button', { type: 'button', class: 'button button-icon button-danger', 'aria-label': t('remove', name), title: t('remove', name),
          disabled: name === beingSent, 'data-focus-key': `remove:${name}`, onclick: () => removeQueued(card, name) }, icon('remove')));
    }
    card.queueList.append(el('li', { class: 'queue-item' },
      el('a', { href: linePath(card.name, 'outbox', name), download: name, class: 'queue-name', title: t('downloadName', name) }, name),
      el('span', { class: 'queue-bytes muted' }, `${number(entry.bytes)} B`),
      el('span', { class: 'queue-buttons' }, buttons)));
  });
  if (focused) {
    const again = card.queueList.querySelector(`[data-focus-key="${CSS.escape(focused)}"]`);
    if (again && !again.disabled)
      again.focus();
    else if (again)
      card.queueList.querySelector('button:not([disabled])')?.focus();
  }
}

async function move(card, index, step) {
  const names = [...card.queueNames];
  const target = index + step;
  if (target < 0 || target >= names.length)
    return;
  [names[index], names[target]] = [names[target], names[index]];
  try {
    await request('PUT', linePath(card.name, 'order'), names);
  } catch (error) {
    failed(t('actOrder'), error);
  }
  await refreshQueue(card);
}

async function removeQueued(card, name) {
  if (!(await ask(t('askRemove', name, card.name), t('remove', name))))
    return;
  try {
    await request('DELETE', linePath(card.name, 'outbox', name));
    announce(t('removed', name, card.name));
  } catch (error) {
    failed(t('actRemove', name), error);
  }
  await refreshQueue(card);
}

function fillCard(card, line, sinceMs) {
  card.line = line;
  const state = stateOf(line, sinceMs);
  card.element.dataset.state = line.state || '';
  card.facts.replaceChildren(
    ...field(t('port'), line.port || ''),
    ...field(t('protocol'), protocolWords(line)),
    ...field(t('mode'), modeWords(line.mode)));
  card.stateText.textContent = state.text;
  card.stateText.className = `state-text state-${state.kind}`;
  if (state.percent !== null && state.percent !== undefined) {
    card.progress.hidden = false;
    card.progress.value = state.percent;
    card.progress.setAttribute('aria-label', t('progressOf', line.name));
  } else {
    card.progress.hidden = true;
  }
  const rows = [];
  rows.push(...field(t('currentFile'), line.file ? baseName(line.file) : t('none')));
  if (sends(line)) {
    // The listing, once there, is the outbox as it is now: a file put in
    // a moment ago is in it before the line counts it.
    card.queueCount = el('span', {}, t('queueCount', number(card.listed ?? line.queue ?? 0)));
    rows.push(...field(t('queue'), card.queueCount));
  }
  if (line.request)
    rows.push(...field(t('lastRequest'), requestWords(line)));
  const lastNode = el('span', { class: line.last ? (line.last.ok ? 'outcome-ok' : 'outcome-bad') : 'muted', 'data-role': 'last' }, lastWords(line.last));
  rows.push(...field(t('lastTransfer'), lastNode));
  card.details.replaceChildren(...rows);
  if (card.queueBox) {
    card.queueTitle.textContent = t('queueTitle', line.name);
    card.dropHint.textContent = session.canChange ? t('dropHint') : '';
    card.uploadState.textContent = card.uploadWords ? card.uploadWords() : '';
    card.dropArea.hidden = !session.canChange;
    card.pick.lastElementChild.textContent = t('pickFile');
    card.pick.setAttribute('aria-label', t('pickFileFor', line.name));
    // The listing follows the queue: fetched again when its count or the line's file changed.
    const key = `${line.queue}|${line.state}|${line.file || ''}|${line.last ? line.last.finished : ''}`;
    if (key !== card.queueKey) {
      card.queueKey = key;
      refreshQueue(card);
    }
  }
  const summary = `${line.name}: ${state.summary}`;
  if (card.announced && summary !== card.announced)
    announce(summary);
  card.announced = summary;
}

// Shows the status the service sent (the whole object of /api/status).
export function renderStatus(status) {
  statusAt = performance.now();
  lastStatus = status;
  lastLines = (status && status.lines) || [];
  const container = document.getElementById('cards');
  const empty = document.getElementById('lines-empty');
  const info = document.getElementById('service-info');
  const service = (status && status.service) || {};
  info.textContent = service.running === false ? t('serviceDown') : service.started ? t('serviceInfo', dateTime(service.started)) : '';
  empty.hidden = lastLines.length > 0;
  empty.textContent = t('noLines');
  const seen = new Set();
  lastLines.forEach((line) => {
    seen.add(line.name);
    let card = cards.get(line.name);
    if (!card || card.sends !== sends(line)) {
      if (card)
        card.element.remove();
      card = makeCard(line);
      card.sends = sends(line);
      cards.set(line.name, card);
    }
    container.append(card.element); // keeps the service's order
    fillCard(card, line, 0);
  });
  for (const [name, card] of cards) {
    if (!seen.has(name)) {
      card.element.remove();
      cards.delete(name);
    }
  }
}

// A hold's time goes on counting between two statuses.
export function tick() {
  const since = performance.now() - statusAt;
  for (const line of lastLines) {
    if (line.feed && (line.feed.held || line.feed.waitingForXon)) {
      const card = cards.get(line.name);
      if (card)
        card.stateText.textContent = stateOf(line, since).text;
    }
  }
}

// After a change of language or session: everything again in its words.
export function rerender() {
  for (const card of cards.values()) {
    card.queueKey = '';
    card.announced = '';
    card.folders.rerender();
  }
  renderStatus(lastStatus || { lines: [] });
}

export function lineNames() {
  return lastLines.map((line) => line.name);
}
