// Reference page for the Telvana Print-to-Fax host: lists printed documents as the host reports
// them, brings the window forward for a document just printed, uploads one to the fax service
// with the user's token, and deletes documents.
'use strict';

console.log('Telvana page loaded');

const bridge = window.webkit.messageHandlers;
const el = (id) => document.getElementById(id);
const rows = new Map();  // path -> list item

// The documents already in the folder are reported in one burst once the watcher starts; a
// document reported after the page has heard nothing for this long was printed just now.
const LISTING_QUIET_MS = 1000;
let listing = true;
let listingTimer = 0;

function listingGoesOn() {
  clearTimeout(listingTimer);
  listingTimer = setTimeout(() => {
    listing = false;
    console.log('Printed documents listed: ' + rows.size);
  }, LISTING_QUIET_MS);
}

function fileName(path) {
  return path.slice(path.lastIndexOf('/') + 1);
}

function setStatus(text) {
  el('status').textContent = text;
}

function settings() {
  return {
    endpoint: localStorage.getItem('endpoint') || 'http://127.0.0.1:8765/upload',
    token: localStorage.getItem('token') || '',
  };
}

function showResult(path, text, isError) {
  const row = rows.get(path);
  if (!row) return;
  const result = row.querySelector('.result');
  result.textContent = text;
  result.classList.toggle('error', isError);
}

// Marks a document just printed, in the list and for screen readers.
function markArrived(row, path) {
  row.classList.add('arrived');
  const badge = document.createElement('span');
  badge.className = 'badge';
  badge.textContent = 'New';
  row.querySelector('.name').after(badge);
  row.scrollIntoView({ block: 'nearest' });
  setStatus('Just printed: ' + fileName(path));
}

function clearArrived(row) {
  row.classList.remove('arrived');
  const badge = row.querySelector('.badge');
  if (badge) badge.remove();
}

function upload(path) {
  const row = rows.get(path);
  if (row) clearArrived(row);
  const { endpoint, token } = settings();
  if (!token) {
    el('settings').open = true;
    setStatus('Enter the token of the fax service first.');
    return;
  }
  showResult(path, 'Uploading…', false);
  bridge.uploadPrintedFile.postMessage(JSON.stringify({ path, token, endpoint }));
}

function removeRow(path) {
  const row = rows.get(path);
  if (row) row.remove();
  rows.delete(path);
  el('empty').hidden = rows.size > 0;
}

function addRow(path, arrived) {
  if (rows.has(path)) return;
  const row = document.createElement('li');
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = fileName(path);
  name.title = path;
  const result = document.createElement('span');
  result.className = 'result';
  const send = document.createElement('button');
  send.textContent = 'Upload';
  send.addEventListener('click', () => upload(path));
  const remove = document.createElement('button');
  remove.textContent = 'Delete';
  remove.addEventListener('click', () => {
    bridge.deletePrintedFile.postMessage(path);
    removeRow(path);
  });
  row.append(name, result, send, remove);
  el('files').append(row);
  rows.set(path, row);
  el('empty').hidden = true;
  if (arrived) markArrived(row, path);
}

// The callbacks the host calls.
window.telvana = {
  _onNewPrintedFile(path) {
    if (listing) {
      listingGoesOn();
      addRow(path, false);
      return;
    }
    addRow(path, true);
    bridge.bringToFront.postMessage();
  },
  _onUploadResult(text) {
    const result = JSON.parse(text);
    if (result.error === 'native_handled') {
      // The host has deleted the document and its own message box tells the user why.
      removeRow(result.path);
    } else if (result.error) {
      showResult(result.path, 'Upload failed: ' + result.error, true);
    } else {
      showResult(result.path, 'Stored as ' + (result.storagePath || '(no path)'), false);
    }
  },
  _onTokenResponse(body, error) {
    setStatus(error ? 'Token request failed: ' + error : 'Token received.');
  },
  _onHttpGetResponse(id, body, error) {
    setStatus(error ? id + ': ' + error : id + ': ' + body);
  },
  _onDeeplinkResult(opened) {
    setStatus(opened ? 'Opened the desktop app.' : 'The desktop app is not installed.');
  },
  handleCallback(url) {
    setStatus('Signed in: ' + url);
  },
};

el('version').textContent = 'Version ' + window.__TELVANA_APP_VERSION__;
el('endpoint').value = settings().endpoint;
el('token').value = settings().token;
el('save').addEventListener('click', () => {
  localStorage.setItem('endpoint', el('endpoint').value.trim());
  localStorage.setItem('token', el('token').value);
  setStatus('Saved.');
});
el('clear').addEventListener('click', () => {
  bridge.clearPrintedFiles.postMessage();
  for (const path of [...rows.keys()]) removeRow(path);
});

bridge.resizeWindow.postMessage('home');
bridge.startFileWatcher.postMessage();
listingGoesOn();
