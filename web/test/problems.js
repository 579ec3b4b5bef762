// problems.js: loaded first into the page under test (the test puts it
// beside the served copy and a script element for it first in its <head>,
// since not every driver reports the console): keeps every console error,
// failed assertion, uncaught error, unhandled rejection, failed load of a
// script, image or link, and anything the page's policy refused, as text,
// in sessionStorage's 'vesk-problems' (a JSON list), across reloads.
(function () {
  var KEY = 'vesk-problems';
  function note(text) {
    var list = JSON.parse(sessionStorage.getItem(KEY) || '[]');
    list.push(text);
    sessionStorage.setItem(KEY, JSON.stringify(list));
  }
  var error = console.error, assert = console.assert;
  console.error = function () {
    note('console error: ' + [].join.call(arguments, ' '));
    return error.apply(console, arguments);
  };
  console.assert = function (condition) {
    if (!condition)
      note('console assert: ' + [].slice.call(arguments, 1).join(' '));
    return assert.apply(console, arguments);
  };
  addEventListener('error', function (e) {
    var from = e.target;
    note(from && from !== window ? 'failed to load: ' + (from.src || from.href) : 'page error: ' + e.message);
  }, true);
  addEventListener('securitypolicyviolation', function (e) {
    note('refused by the page\'s policy: ' + e.violatedDirective + ' ' + e.blockedURI);
  });
  addEventListener('unhandledrejection', function (e) {
    note('page error: ' + (e.reason && e.reason.message || e.reason));
  });
})();
