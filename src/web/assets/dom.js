/* SPDX-License-Identifier: GPL-3.0-or-later */
// Small helpers for building the page: elements, the polite announcer, the
// error list and a question asked in a modal dialog.
import { t } from './i18n.js';

// el('button', {class: 'x', onclick: f, 'aria-label': 'y'}, 'text', child...)
export function el(tag, attributes = {}, ...children) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false)
      continue;
    if (name.startsWith('on') && typeof value === 'function')
      element.addEventListener(name.slice(2), value);
    else if (name === 'class')
      element.className = value;
    else if (name === 'text')
      element.textContent = value;
    else if (value === true)
      element.setAttribute(name, '');
    else
      element.setAttribute(name, String(value));
  }
  for (const child of children.flat()) {
    if (child === undefined || child === null || child === false)
      continue;
    element.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return element;
}

export function icon(name) {
  return el('img', { src: `/assets/icons/${name}.svg`, alt: '', class: 'icon', width: 16, height: 16 });
}

// Said once by a screen reader, politely: state changes, results of actions.
let announceTimer = 0;
const pendingWords = [];
export function announce(text) {
  pendingWords.push(text);
  clearTimeout(announceTimer);
  announceTimer = setTimeout(() => {
    const region = document.getElementById('announce');
    region.textContent = '';
    for (const words of pendingWords.splice(0))
      region.append(el('p', {}, words));
  }, 150);
}

// An error the user must see: listed on top of the page until dismissed.
export function showError(text) {
  const list = document.getElementById('errors');
  const item = el('div', { class: 'notice notice-error' },
    el('span', { class: 'notice-text' }, text),
    el('button', { type: 'button', class: 'button button-small', onclick: () => item.remove() }, t('dismiss')));
  list.append(item);
  while (list.children.length > 5)
    list.firstElementChild.remove();
}

export function clearErrors() {
  document.getElementById('errors').textContent = '';
}

// Asks a yes/no question; resolves true for OK.
export function ask(question, okWords = t('ok')) {
  const dialog = document.getElementById('confirm');
  document.getElementById('confirm-text').textContent = question;
  document.getElementById('confirm-ok').textContent = okWords;
  document.getElementById('confirm-cancel').textContent = t('cancel');
  dialog.returnValue = 'cancel';
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), { once: true });
    dialog.showModal();
    document.getElementById('confirm-ok').focus();
  });
}
