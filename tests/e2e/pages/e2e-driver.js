// Plays the user of the reference page: saves the fax service settings it is given, uploads every
// document the page lists, and deletes the stored ones when a callback URL asks for it. Reports
// what the page shows through the console, one "e2e ..." line per event.
'use strict';

(function () {
  const settings = window.e2eSettings || null;
  const el = (id) => document.getElementById(id);
  const uploaded = new Set();

  const rowPath = (row) => row.querySelector('.name').title;
  const rowButton = (row, text) =>
    [...row.querySelectorAll('button')].find((button) => button.textContent === text);
  const onTextChange = (node, callback) =>
    new MutationObserver(callback).observe(node, {
      childList: true,
      characterData: true,
      subtree: true,
    });

  function watchRow(row) {
    const path = rowPath(row);
    console.log('e2e row ' + path);
    if (row.classList.contains('arrived')) {
      console.log('e2e arrived ' + path + ' | ' + row.querySelector('.badge').textContent);
    }
    const result = row.querySelector('.result');
    onTextChange(result, () => {
      const text = result.textContent;
      if (text && text !== 'Uploading…') console.log('e2e result ' + path + ' | ' + text);
    });
    if (settings && !uploaded.has(path)) {
      uploaded.add(path);
      rowButton(row, 'Upload').click();
    }
  }

  new MutationObserver((changes) => {
    for (const change of changes) {
      for (const node of change.addedNodes) watchRow(node);
      for (const node of change.removedNodes) console.log('e2e removed ' + rowPath(node));
    }
  }).observe(el('files'), { childList: true });

  onTextChange(el('status'), () => {
    const text = el('status').textContent;
    console.log('e2e status ' + text);
    if (!text.startsWith('Signed in: telvanaprinter://e2e/delete-stored')) return;
    for (const row of [...el('files').children]) {
      if (row.querySelector('.result').textContent.startsWith('Stored as ')) {
        rowButton(row, 'Delete').click();
      }
    }
  });
  // A key reaches the page only while the program's window has the focus.
  document.addEventListener('keydown', (event) => console.log('e2e key ' + event.key));
  if (settings) {
    el('endpoint').value = settings.endpoint;
    el('token').value = settings.token;
    el('save').click();
  }
  for (const row of el('files').children) watchRow(row);
  console.log('e2e driver ready');
})();
