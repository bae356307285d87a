#include "archive/search_script.h"

namespace velmoran {

// Written to search/search.js as it stands. It loads the index's files as script elements (a
// page opened from disk may not fetch them), each carrying the page's nonce, and builds the
// results with DOM calls and textContent only. It splits a query as forEachSearchTerm splits
// a message (archive/search_index.cpp); a change to one is a change to both. The page runs it
// as its parser reaches it, right after the search box and before the list of conversations.
const char SearchScript[] = R"js('use strict';
(() => {
  const nonce = document.currentScript.nonce;
  const form = document.getElementById('search');
  const box = document.getElementById('q');
  const status = document.getElementById('search-status');
  const results = document.getElementById('results');
  const Shown = 100;
  const Digits = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
  const digitValue = new Int8Array(128).fill(-1);
  for (let i = 0; i < Digits.length; ++i) digitValue[Digits.charCodeAt(i)] = i;

  const data = { index: null, words: new Map(), pieces: new Map(), messages: new Map() };
  window.velmoranSearch = Object.freeze({
    index(index) { data.index = index; },
    words(file, list) { data.words.set(file, list); },
    piece(piece, numbers) { data.pieces.set(piece, numbers); },
    messages(block, pages, senders, list) {
      for (let at = 5; at < list.length; at += 5) {
        list[at + 1] += list[at - 4];
        list[at + 2] += list[at - 3];
      }
      data.messages.set(block, { pages, senders, list });
    },
  });

  // Each file of search/ once, as a script element the page's policy lets run.
  const files = new Map();
  function load(name) {
    let loaded = files.get(name);
    if (!loaded) {
      loaded = new Promise((resolve, reject) => {
        const element = document.createElement('script');
        element.src = 'search/' + name;
        element.nonce = nonce;
        element.onload = () => resolve();
        element.onerror = () => reject(new Error(name));
        document.head.append(element);
      });
      files.set(name, loaded);
      document.body.dataset.searchFiles = [...files.keys()].join(' ');
    }
    return loaded;
  }

  // Words as the archive's writer splits them: runs of letters, digits and marks, and runs of
  // Chinese, Japanese or Thai characters (indexed by single characters and pairs).
  const wordCharacter = /[\p{L}\p{N}\p{M}]/u;
  const spaceless = /[\p{sc=Han}\p{sc=Hiragana}\p{sc=Katakana}\p{sc=Thai}]/u;
  const lower = (text) => text.toLowerCase().replace(/\u03c2/g, '\u03c3');
  function splitWord(text) {
    const parts = [];
    let word = '';
    let run = [];
    const end = () => {
      if (word) parts.push({ text: word, chars: null });
      if (run.length) parts.push({ text: run.join(''), chars: run });
      word = '';
      run = [];
    };
    for (const c of text) {
      if (!wordCharacter.test(c)) {
        end();
      } else if (spaceless.test(c)) {
        if (word) end();
        run.push(c);
      } else {
        if (run.length) end();
        word += c;
      }
    }
    end();
    return parts;
  }

  // What the index must hold for a query: words at the start of a word, characters and pairs
  // exactly; and the query words it cannot settle alone, checked in the messages' texts.
  function parse(query) {
    const words = lower(query).split(/\s+/).filter(Boolean);
    const needs = new Map();
    const checks = [];
    const marks = [];
    for (const word of words) {
      const parts = splitWord(word);
      let settled = parts.length === 1 && parts[0].text === word;
      for (const part of parts) {
        marks.push(part.text);
        if (!part.chars) {
          needs.set('^' + part.text, { prefix: true, text: part.text });
        } else if (part.chars.length <= 2) {
          needs.set('=' + part.text, { prefix: false, text: part.text });
        } else {
          settled = false;
          for (let i = 0; i + 1 < part.chars.length; ++i) {
            const pair = part.chars[i] + part.chars[i + 1];
            needs.set('=' + pair, { prefix: false, text: pair });
          }
        }
      }
      if (!settled) checks.push(word);
    }
    return { needs: [...needs.values()], checks, marks: marks.length ? marks : words };
  }

  // The word files that may hold a need: the one its text falls in, and for a prefix the
  // following ones that begin with it.
  function wordFiles(need) {
    const first = data.index.words;
    let low = 0;
    let high = first.length - 1;
    while (low < high) {
      const middle = (low + high + 1) >> 1;
      if (first[middle] <= need.text) low = middle;
      else high = middle - 1;
    }
    const wanted = first.length ? [low + 1] : [];
    for (let i = low + 1; need.prefix && i < first.length && first[i].startsWith(need.text); ++i)
      wanted.push(i + 1);
    return wanted;
  }

  function matchingNumbers(list, need) {
    let low = 0;
    let high = list.length / 2;
    while (low < high) {
      const middle = (low + high) >> 1;
      if (list[2 * middle] < need.text) low = middle + 1;
      else high = middle;
    }
    const found = [];
    for (let i = low; i < list.length / 2; ++i) {
      const word = list[2 * i];
      if (need.prefix ? !word.startsWith(need.text) : word !== need.text) break;
      found.push(list[2 * i + 1]);
    }
    return found;
  }

  // Counts up the messages of numbers that hold the needs before this one (k of them).
  function mark(numbers, counts, k) {
    let message = -1;
    let value = 0;
    for (let i = 0; i < numbers.length; ++i) {
      const digit = digitValue[numbers.charCodeAt(i)];
      if (digit >= 32) {
        value = value * 32 + digit - 32;
      } else {
        message += value * 32 + digit;
        value = 0;
        if (counts[message] === k) counts[message] = k + 1;
      }
    }
  }

  const element = (name, className) => {
    const made = document.createElement(name);
    if (className) made.className = className;
    return made;
  };
  const when = new Intl.DateTimeFormat(undefined, { dateStyle: 'medium', timeStyle: 'short' });

  // The text around its first hit, every hit marked.
  function appendSnippet(paragraph, text, marks) {
    const low = lower(text);
    const comparable = low.length === text.length;
    const hitAt = (from) => {
      let best = { at: -1, length: 0 };
      for (const m of marks) {
        const at = comparable ? low.indexOf(m, from) : -1;
        if (at >= 0 && (best.at < 0 || at < best.at)) best = { at, length: m.length };
      }
      return best;
    };
    // Cut between characters, never inside a surrogate pair.
    const whole = (at) => (at > 0 && at < text.length && (text.charCodeAt(at) & 0xfc00) === 0xdc00 ? at - 1 : at);
    const first = hitAt(0);
    let start = whole(first.at > 60 ? first.at - 40 : 0);
    const end = whole(Math.min(text.length, start + 240));
    if (start > 0) paragraph.append('\u2026');
    for (let hit = hitAt(start); hit.at >= 0 && hit.at < end; hit = hitAt(start)) {
      paragraph.append(text.slice(start, hit.at));
      const marked = element('mark');
      marked.textContent = text.slice(hit.at, hit.at + hit.length);
      paragraph.append(marked);
      start = hit.at + hit.length;
    }
    paragraph.append(text.slice(start, end) + (end < text.length ? '\u2026' : ''));
  }

  function messageAt(number) {
    const block = data.messages.get(Math.floor(number / data.index.block) + 1);
    const at = (number % data.index.block) * 5;
    const sender = block.list[at + 3];
    return {
      page: block.pages[block.list[at]],
      anchor: block.list[at + 1],
      minute: block.list[at + 2],
      sender: block.senders[sender < 0 ? -1 - sender : sender],
      whole: sender >= 0,
      text: block.list[at + 4],
    };
  }

  function render(state, conversation, message) {
    const conversations = data.index.conversations;
    if (conversation !== state.conversation) {
      state.conversation = conversation;
      const heading = element('h3');
      const link = element('a');
      link.href = conversations[conversation + 1] + '/index.html';
      link.dir = 'auto';
      link.textContent = conversations[conversation];
      heading.append(link);
      state.list = element('ol', 'hits');
      results.append(heading, state.list);
    }
    const item = element('li');
    const link = element('a');
    link.href = message.page + '#m' + message.anchor;
    const time = element('time');
    const date = new Date(message.minute * 60000);
    time.dateTime = date.toISOString();
    time.textContent = when.format(date);
    const sender = element('b');
    sender.dir = 'auto';
    sender.textContent = message.sender;
    link.append(time, ' ', sender);
    const text = element('p');
    text.dir = 'auto';
    appendSnippet(text, message.text, state.marks);
    item.append(link, text);
    state.list.append(item);
  }

  // The next hundred hits that hold the query, loading their blocks of messages.
  async function showMore(state) {
    state.more.remove();
    let shown = 0;
    while (shown < Shown && state.next < state.hits.length) {
      const from = state.next;
      state.next = Math.min(state.hits.length, from + Shown - shown);
      const blocks = new Set();
      for (let i = from; i < state.next; ++i) blocks.add(Math.floor(state.hits[i] / data.index.block) + 1);
      await Promise.all([...blocks].map((block) => load('m' + block + '.js')));
      for (let i = from; i < state.next; ++i) {
        const message = messageAt(state.hits[i]);
        const text = lower(message.text);
        if (!state.checks.every((word) => text.includes(word))) continue;
        render(state, state.hitConversations[i], message);
        ++shown;
        ++state.shown;
      }
    }
    if (state.next < state.hits.length) results.append(state.more);
    if (state.checks.length && state.next >= state.hits.length)
      status.textContent = `${count(state.shown)} for \u201c${state.query}\u201d`;
    if (!state.shown && state.next >= state.hits.length)
      status.textContent = `No message holds \u201c${state.query}\u201d`;
  }

  const count = (n) => (n === 1 ? '1 message' : `${n.toLocaleString()} messages`);

  async function search(query) {
    const { needs, checks, marks } = parse(query);
    if (!needs.length) {
      status.textContent = 'Type a word of letters or digits: punctuation and emoji alone are not searched.';
      return;
    }
    status.textContent = 'Searching\u2026';
    await load('index.js');
    const index = data.index;
    const wanted = needs.slice(0, 250);
    for (const need of wanted) need.files = wordFiles(need);
    await Promise.all([...new Set(wanted.flatMap((need) => need.files))].map((f) => load('w' + f + '.js')));
    const pieces = new Set();
    for (const need of wanted) {
      need.lists = need.files.flatMap((f) => matchingNumbers(data.words.get(f), need));
      for (const numbers of need.lists) {
        if (typeof numbers !== 'string')
          for (let p = numbers[0]; p < numbers[0] + numbers[1]; ++p) pieces.add(p);
      }
    }
    await Promise.all([...pieces].map((p) => load('p' + p + '.js')));
    const counts = new Uint8Array(index.messages);
    wanted.forEach((need, k) => {
      for (const numbers of need.lists) {
        if (typeof numbers === 'string') {
          mark(numbers, counts, k);
        } else {
          const parts = [];
          for (let p = numbers[0]; p < numbers[0] + numbers[1]; ++p) parts.push(data.pieces.get(p));
          mark(parts.join(''), counts, k);
        }
      }
    });
    // By conversation, newest first as the index lists them; the newest message first in each.
    const hits = [];
    const hitConversations = [];
    const conversations = index.conversations;
    const all = wanted.length;
    for (let c = 0; c < conversations.length; c += 4) {
      const first = conversations[c + 2];
      for (let number = first + conversations[c + 3] - 1; number >= first; --number) {
        if (counts[number] === all) {
          hits.push(number);
          hitConversations.push(c);
        }
      }
    }
    const more = element('button', 'more');
    more.type = 'button';
    more.textContent = 'Show more';
    const state = { query, hits, hitConversations, checks, marks, next: 0, shown: 0, conversation: -1, list: null, more };
    more.addEventListener('click', () => showMore(state).catch(failed));
    status.textContent = checks.length
      ? `Up to ${count(hits.length)} for \u201c${query}\u201d`
      : hits.length ? `${count(hits.length)} for \u201c${query}\u201d` : '';
    await showMore(state);
    document.body.dataset.firstResultsMs = performance.now().toFixed(1);
    document.body.dataset.results = String(state.shown);
  }

  function failed(error) {
    status.textContent = 'The search index of this archive cannot be read (' + error.message + ').';
    document.body.dataset.searchFailed = error.message;
  }

  document.body.dataset.scriptStartMs = performance.now().toFixed(1);
  form.hidden = false;
  const query = new URLSearchParams(location.search).get('q');
  if (query && query.trim()) {
    box.value = query;
    document.title = query + ' \u2014 ' + document.title;
    // The list of conversations below waits until the first results are in: laying out a
    // long table first would hold them back.
    document.documentElement.classList.add('searching');
    search(query.trim())
      .catch(failed)
      .finally(() => document.documentElement.classList.remove('searching'));
  }
})();
)js";

} // namespace velmoran
