// Records every call the host makes into the page, and lets the test send any message.
window.received = [];
function recorder(name) {
  return function () {
    window.received.push({name: name, args: Array.prototype.slice.call(arguments)});
  };
}
window.telvana = {
  _onNewPrintedFile: recorder('_onNewPrintedFile'),
  _onUploadResult: recorder('_onUploadResult'),
  _onTokenResponse: recorder('_onTokenResponse'),
  _onHttpGetResponse: recorder('_onHttpGetResponse'),
  _onDeeplinkResult: recorder('_onDeeplinkResult'),
  handleCallback: recorder('handleCallback')
};

// Reports that frames send with window.postMessage.
window.frameReports = [];
window.addEventListener('message', function (e) { window.frameReports.push(String(e.data)); });

// Through the handler shim, as the fax service's page does.
window.send = function (name, data) { window.webkit.messageHandlers[name].postMessage(data); };
// The raw channel, for envelopes of any form.
window.post = function (message) { window.chrome.webview.postMessage(message); };

window.addFrame = function (url) {
  var frame = document.createElement('iframe');
  frame.src = url;
  document.body.appendChild(frame);
};

window.fetchStatus = function (path) {
  window.fetched = window.fetched || {};
  fetch(path).then(function (r) {
    return r.text().then(function (body) {
      window.fetched[path] = {status: r.status, type: r.headers.get('Content-Type'), body: body};
    });
  }, function (e) { window.fetched[path] = {status: -1, error: String(e)}; });
};

var visits = Number(localStorage.getItem('visits') || '0') + 1;
localStorage.setItem('visits', String(visits));
console.log('visit ' + visits);
console.log('version ' + window.__TELVANA_APP_VERSION__);
window.pageReady = true;
