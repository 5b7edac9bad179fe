/* SPDX-License-Identifier: GPL-3.0-or-later */
// A line's status object (as the service's status file has it) in words.
import { t, number, duration, dateTime, has } from './i18n.js';

function baseName(path) {
  const text = String(path || '');
  const slash = Math.max(text.lastIndexOf('/'), text.lastIndexOf('\\'));
  return slash >= 0 ? text.slice(slash + 1) : text;
}

export { baseName };

// A sent file moves to sent/ under a time-stamp prefix (sent/20241202-093015-O1234.NC):
// its own name is what the office knows it by.
function sentName(path) {
  const text = String(path || '');
  const name = baseName(text);
  const folder = baseName(text.slice(0, text.length - name.length - 1));
  const match = folder === 'sent' ? name.match(/^\d{8}-\d{6}-(.+)$/) : null;
  return match ? match[1] : name;
}

// The feed's words: "Feeding N41200, line 51,234 of 1,804,220, the machine
// holds the line (XOFF) for 2 min 5 s". sinceMs is the time that passed
// since the status arrived, so that a hold's time goes on counting.
function feedWords(feed, sinceMs) {
  const parts = [];
  parts.push(t('feeding', feed.block !== undefined ? t('feedBlock', feed.block) : '').trim());
  if (feed.lines)
    parts.push(t('feedLine', number(feed.line), number(feed.lines)));
  const flowMs = feed.msSinceFlowChange !== undefined ? feed.msSinceFlowChange + sinceMs : undefined;
  if (feed.held)
    parts.push(t('feedHeld', duration(flowMs || 0)));
  else if (feed.waitingForXon)
    parts.push(flowMs !== undefined ? t('feedWaitXon', duration(flowMs)) : t('feedWaitXonNoTime'));
  return parts.join(', ');
}

// {text: the full words, summary: the words without the changing numbers
// (what is announced), kind: a class for the colour, percent or null}.
export function stateOf(line, sinceMs = 0) {
  const file = baseName(line.file);
  const percent = typeof line.percent === 'number' ? line.percent : null;
  switch (line.state) {
  case 'waiting':
    return { text: t('stateWaiting'), summary: t('stateWaiting'), kind: 'idle', percent: null };
  case 'connecting':
    return { text: t('stateConnecting'), summary: t('stateConnecting'), kind: 'warn', percent: null };
  case 'stopped':
    return { text: t('stateStopped'), summary: t('stateStopped'), kind: 'warn', percent: null };
  case 'error': {
    const text = line.error ? `${t('stateError')}: ${line.error}` : t('stateError');
    return { text, summary: text, kind: 'error', percent: null };
  }
  case 'receiving': {
    let text;
    if (typeof line.bytes === 'number' && percent === null)
      text = t('stateReceivingBytes', number(line.bytes));
    else if (file)
      text = t('stateReceivingFile', file, percent ?? 0);
    else
      text = t('stateReceiving', percent ?? 0);
    return { text, summary: t('summaryReceiving', file).trim(), kind: 'busy', percent };
  }
  case 'sending': {
    if (line.feed) {
      const words = feedWords(line.feed, sinceMs);
      const text = file ? `${words} (${file})` : words;
      const summary = t(line.feed.held ? 'summaryFeedingHeld' : 'summaryFeeding', file).trim();
      const total = line.feed.total || 0;
      const fraction = total > 0 ? Math.floor((100 * (line.feed.sent || 0)) / total) : percent;
      return { text, summary, kind: line.feed.held ? 'warn' : 'busy', percent: fraction };
    }
    const text = file ? t('stateSending', file, percent ?? 0) : t('stateSendingNoFile', percent ?? 0);
    return { text, summary: t('summarySending', file).trim(), kind: 'busy', percent };
  }
  default:
    return { text: t('stateUnknown', line.state), summary: t('stateUnknown', line.state), kind: 'warn', percent: null };
  }
}

export function modeWords(mode) {
  return { send: t('modeSend'), receive: t('modeReceive'), both: t('modeBoth') }[mode] || mode || '';
}

export function protocolWords(line) {
  const protocol = line.protocol || 'packet';
  const name = protocol === 'tape' ? t('protocolTape') : protocol === 'packet' ? t('protocolPacket') : protocol;
  return line.profile ? `${name} (${line.profile})` : name;
}

export function outcomeWords(code) {
  return has('outcome_' + code) ? t('outcome_' + code) : String(code || '');
}

// "sent O1234.NC (succeeded), 09.12.2026, 14:05:33"; a failure with its reason
export function lastWords(last) {
  if (!last)
    return t('none');
  const direction = last.direction === 'sent' ? t('lastSent') : t('lastReceived');
  // The outcome in the page's language by its code; a failure keeps the
  // service's own words (in the service's language) for its reason.
  if (last.ok)
    return t('lastLineOk', direction, sentName(last.file), t('lastOk'), dateTime(last.finished));
  const coded = last.code ? outcomeWords(last.code) : '';
  const words = [coded, last.outcome].filter((part) => part).join(' · ');
  return t('lastLine', direction, sentName(last.file), words, t('lastFailed'),
    dateTime(last.finished));
}

export function requestWords(line) {
  if (!line.request)
    return '';
  return line.asked ? t('lastRequestAsked', line.request, line.asked) : line.request;
}

export function sends(line) {
  return line.mode === 'send' || line.mode === 'both';
}
