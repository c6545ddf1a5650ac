// The texts of the scripts injected into the page's documents.
#include "bridge/document_script.h"

namespace {

constexpr std::u16string_view handler_shim =
    u"(function(){if(!window.webkit)window.webkit={};if(!window.webkit.messageHandlers)"
    u"window.webkit.messageHandlers={};['showAlert','bringToFront','openBrowser','resizeWindow',"
    u"'setWindowBackground','httpGet','postToken','startFileWatcher','uploadPrintedFile',"
    u"'deletePrintedFile','clearPrintedFiles'].forEach(function(n){window.webkit."
    u"messageHandlers[n]={postMessage:function(d){window.chrome.webview.postMessage(JSON."
    u"stringify({handler:n,data:d===undefined?null:d}));}};});})();";

constexpr std::u16string_view console_forwarding =
    u"(function(){['log','warn','error','info'].forEach(function(m){var orig=console[m].bind("
    u"console);console[m]=function(){var s=Array.prototype.slice.call(arguments).map(function(a)"
    u"{try{return typeof a==='object'?JSON.stringify(a):String(a);}catch(e){return String(a);}})"
    u".join(' ');window.chrome&&window.chrome.webview&&window.chrome.webview.postMessage(JSON."
    u"stringify({handler:'__log__',data:m+': '+s}));orig.apply(console,arguments);};});})();";

// The event that carries a message from the page's world to the relay.
constexpr std::string_view bridge_event = "telvana-bridge-message";

}  // namespace

std::u16string document_script(std::u16string_view app_version) {
  std::u16string script = u"window.__TELVANA_APP_VERSION__='";
  script += app_version;
  script += u"';";
  script += u'\n';
  script += handler_shim;
  script += u'\n';
  script += console_forwarding;
  return script;
}

std::string bridge_prelude_script() {
  // The references are taken before any page script runs, so the page cannot redirect them.
  return std::string(
             "(function(){var w=window,send=w.dispatchEvent.bind(w),Ev=w.CustomEvent;"
             "if(!w.chrome)w.chrome={};w.chrome.webview={postMessage:function(s){send(new Ev('") +
         std::string(bridge_event) + "',{detail:s}));}};})();";
}

std::string bridge_relay_script() {
  return std::string("(function(){var channel=window.webkit.messageHandlers.") + BRIDGE_CHANNEL +
         ";window.addEventListener('" + std::string(bridge_event) +
         "',function(e){channel.postMessage([String(location.href),e.detail]);});})();";
}
