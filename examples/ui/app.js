// Reference page for the Telvana Print-to-Fax host: lists printed documents as the host reports
// them, uploads one to the fax service with the user's token, and deletes documents.
'use strict';

console.log('Telvana page loaded');

const bridge = window.webkit.messageHandlers;
const el = (id) => document.getElementById(id);
const rows = new Map();  // path -> list item

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

function upload(path) {
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

function addRow(path) {
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
}

// The callbacks the host calls.
window.telvana = {
  _onNewPrintedFile(path) {
    addRow(path);
  },
  _onUploadResult(text) {
    const result = JSON.parse(text);
    if (result.error) {
      showResult(result.path, 'Failed: ' + result.error, true);
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
