/* SPDX-License-Identifier: GPL-3.0-or-later */
// Requests to the service's API: every request says it comes from this page
// (so a 401 never makes the browser pop up its own password dialog), every
// change carries the session's CSRF token, and every failure becomes an
// ApiError whose code the page turns into words.
import { t, has } from './i18n.js';

let csrfToken = '';
let onUnauthorized = () => {};

export function setCsrf(token) {
  csrfToken = token || '';
}

export function setUnauthorizedHandler(handler) {
  onUnauthorized = handler;
}

export class ApiError extends Error {
  constructor(status, code, message) {
    super(message || code);
    this.status = status;
    this.code = code;
    this.serverMessage = message || '';
  }

  // The reason in the page's language, by the error's code.
  words() {
    if (this.code === 'network')
      return t('err_network', this.serverMessage);
    if (this.code === 'system')
      return t('err_system', this.serverMessage);
    if (has('err_' + this.code))
      return t('err_' + this.code);
    return t('err_unknown', this.status, this.serverMessage || this.code);
  }
}

// One segment of an API path, whatever the name holds.
export function segment(name) {
  return encodeURIComponent(name);
}

export function linePath(line, ...rest) {
  return '/api/lines/' + [line, ...rest].map(segment).join('/');
}

async function errorFrom(response) {
  let code = '';
  let message = '';
  try {
    const body = await response.json();
    code = body.error || '';
    message = body.message || '';
  } catch {
    // not JSON: the status says enough
  }
  if (!code) {
    const byStatus = { 400: 'bad_request', 401: 'unauthorized', 403: 'forbidden', 404: 'not_found',
      408: 'bad_request', 409: 'busy', 411: 'length_required', 413: 'too_large', 500: 'system' };
    code = byStatus[response.status] || 'http_' + response.status;
    message = message || response.statusText;
  }
  return new ApiError(response.status, code, message);
}

// method, path, optional body (string, Blob, File or object sent as JSON).
// Resolves to the Response when it is a success, else throws ApiError.
export async function request(method, path, body, { quiet401 = false } = {}) {
  const headers = { 'X-Requested-With': 'tapeway' };
  if (method !== 'GET' && method !== 'HEAD')
    headers['X-CSRF-Token'] = csrfToken;
  let payload = body;
  if (body !== undefined && !(body instanceof Blob) && typeof body !== 'string') {
    payload = JSON.stringify(body);
    headers['Content-Type'] = 'application/json';
  } else if (body instanceof Blob) {
    headers['Content-Type'] = 'application/octet-stream';
  }
  let response;
  try {
    response = await fetch(path, { method, headers, body: payload, credentials: 'same-origin', cache: 'no-store' });
  } catch (error) {
    throw new ApiError(0, 'network', error && error.message ? error.message : String(error));
  }
  if (!response.ok) {
    const error = await errorFrom(response);
    if (response.status === 401 && !quiet401)
      onUnauthorized();
    throw error;
  }
  return response;
}

export async function json(method, path, body, options) {
  const response = await request(method, path, body, options);
  if (response.status === 204)
    return null;
  const text = await response.text();
  return text ? JSON.parse(text) : null;
}
