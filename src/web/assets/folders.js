/* SPDX-License-Identifier: GPL-3.0-or-later */
// A line's folders (library, inbox, pending, failed): the files with
// download links; a pending program's difference from the library's
// version, and its approval or rejection for operators.
import { t, number, dateTime } from './i18n.js';
import { el, icon, announce, showError, ask } from './dom.js';
import { json, linePath, ApiError } from './api.js';

function failed(action, error) {
  showError(t('errorPrefix', action, error instanceof ApiError ? error.words() : String(error)));
}

function foldersFor(line) {
  if (line.mode === 'send')
    return ['library', 'failed'];
  return ['library', 'inbox', 'pending', 'failed'];
}

const kFolderWord = { library: 'folderLibrary', inbox: 'folderInbox', pending: 'folderPending', failed: 'folderFailed' };

// A <details> element that lists one folder at a time.
export function folderPanel(line, canChange) {
  const name = line.name;
  const summary = el('summary', {});
  const tabs = el('div', { class: 'folder-tabs', role: 'group' });
  const body = el('div', { class: 'folder-body' });
  const element = el('details', { class: 'folders' }, summary, tabs, body);
  let shown = '';
  const buttons = new Map();

  for (const folder of foldersFor(line)) {
    const button = el('button', { type: 'button', class: 'button button-small', 'aria-pressed': 'false',
      onclick: () => show(folder) });
    buttons.set(folder, button);
    tabs.append(button);
  }

  async function show(folder) {
    shown = folder;
    for (const [key, button] of buttons)
      button.setAttribute('aria-pressed', String(key === folder));
    body.replaceChildren(el('p', { class: 'muted' }, t('folderLoading')));
    let answer;
    try {
      answer = await json('GET', linePath(name, folder));
    } catch (error) {
      body.replaceChildren(el('p', { class: 'form-error' },
        error instanceof ApiError ? error.words() : String(error)));
      return;
    }
    if (shown !== folder)
      return;
    const files = answer.files || [];
    if (!files.length) {
      body.replaceChildren(el('p', { class: 'muted' }, t('folderEmpty')));
      return;
    }
    const rows = files.map((entry) => {
      const actions = [el('a', { class: 'button button-small', href: linePath(name, folder, entry.name), download: entry.name,
        'aria-label': t('downloadName', entry.name) }, icon('download'), t('download'))];
      if (folder === 'pending') {
        actions.push(el('button', { type: 'button', class: 'button button-small', 'aria-label': t('showDiffName', entry.name),
          onclick: () => showDiff(name, entry.name) }, t('showDiff')));
        if (canChange()) {
          actions.push(
            el('button', { type: 'button', class: 'button button-small button-good', 'aria-label': t('approveName', entry.name),
              onclick: () => approve(entry.name, false) }, t('approve')),
            el('button', { type: 'button', class: 'button button-small', 'aria-label': t('approveReplaceName', entry.name),
              onclick: () => approve(entry.name, true) }, t('approveReplace')),
            el('button', { type: 'button', class: 'button button-small button-danger', 'aria-label': t('rejectName', entry.name),
              onclick: () => reject(entry.name) }, t('reject')));
        }
      }
      return el('li', { class: 'file' },
        el('div', { class: 'file-row' },
          el('span', { class: 'file-name' }, entry.name),
          el('span', { class: 'file-meta muted' }, `${number(entry.bytes)} B · ${dateTime(entry.modified)}`)),
        el('div', { class: 'file-actions' }, actions));
    });
    body.replaceChildren(el('ul', { class: 'files', 'aria-label': `${t(kFolderWord[folder])}: ${name}` }, rows));
  }

  async function approve(file, replace) {
    if (replace && !(await ask(t('askApproveReplace', file), t('approveReplace'))))
      return;
    try {
      const answer = await json('POST', linePath(name, 'pending', file, 'approve') + (replace ? '?replace=1' : ''));
      announce(t('approved', file, answer && answer.path ? answer.path : ''));
    } catch (error) {
      failed(t('actApprove', file), error);
    }
    show('pending');
  }

  async function reject(file) {
    if (!(await ask(t('askReject', file), t('reject'))))
      return;
    try {
      const answer = await json('POST', linePath(name, 'pending', file, 'reject'));
      announce(t('rejected', file, answer && answer.path ? answer.path : ''));
    } catch (error) {
      failed(t('actReject', file), error);
    }
    show('pending');
  }

  function rerender() {
    summary.textContent = t('foldersOf', name);
    for (const [folder, button] of buttons)
      button.textContent = t(kFolderWord[folder]);
    if (shown && element.open)
      show(shown);
  }

  element.addEventListener('toggle', () => {
    if (element.open && !shown)
      show(foldersFor(line)[0]);
  });
  rerender();
  return { element, rerender };
}

// The unified diff, library against pending, each line marked by a sign and
// (for a screen reader) a word, not only by its colour.
export async function showDiff(line, file) {
  let answer;
  try {
    answer = await json('GET', linePath(line, 'pending', file, 'diff'));
  } catch (error) {
    failed(t('actDiff'), error);
    return;
  }
  const dialog = document.getElementById('diff');
  document.getElementById('diff-title').textContent = t('diffTitle', file);
  const notes = [];
  if (!answer.library)
    notes.push(t('diffNoLibrary'));
  if (answer.same)
    notes.push(t('diffSame'));
  else if (!answer.diff)
    notes.push(t('diffSameLines'));
  if (answer.diff)
    notes.push(t('diffLegend'));
  document.getElementById('diff-note').textContent = notes.join(' ');
  const body = document.getElementById('diff-body');
  body.textContent = '';
  const text = String(answer.diff || '');
  for (const row of text.split('\n')) {
    if (row === '' && body.childElementCount && text.endsWith('\n'))
      continue;
    let kind = 'same';
    let sign = ' ';
    let word = '';
    if (row.startsWith('+++') || row.startsWith('---')) {
      kind = 'head';
      sign = '';
    } else if (row.startsWith('@@')) {
      kind = 'hunk';
      sign = '';
    } else if (row.startsWith('+')) {
      kind = 'add';
      sign = '+';
      word = t('diffAdded');
    } else if (row.startsWith('-')) {
      kind = 'del';
      sign = '−';
      word = t('diffRemoved');
    }
    const content = kind === 'head' || kind === 'hunk' ? row : row.slice(1);
    body.append(el('div', { class: `diff-row diff-${kind}` },
      el('span', { class: 'diff-sign', 'aria-hidden': 'true' }, sign),
      word ? el('span', { class: 'visually-hidden' }, `${word}: `) : null,
      el('span', { class: 'diff-text' }, content)));
  }
  dialog.showModal();
}
