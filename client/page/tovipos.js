// tovipos.js: the till's device functions as promises, for the shop's pages. A classic script that
// defines window.tovi (a module may load it for that effect):
//
//   tovi.print(job), tovi.printRaw(job), tovi.report(job), tovi.openDrawer(job), tovi.display(job),
//   tovi.deviceStatus(job)
//
// job is the request object (or its JSON text) of toviPrint, toviPrintRaw, toviRijie, toviOpencash,
// toviDisplay or toviDeviceStatus. Each call gives the request an id of its own and returns a
// promise of its "tovipos-result": resolved with the result when its outcome is "ok", else rejected
// with an Error whose code, message and result are the result's. "ok" means every byte went to the
// device, not that paper came out; for deviceStatus it means the status was read, whatever it says:
// it is result.status (also on a failure's error.result.status). A result that arrives after a
// reload (late) finds no promise in the new document; listen for "tovipos-result" to see those.
(function () {
  'use strict';

  var FUNCTIONS = {print: 'toviPrint', printRaw: 'toviPrintRaw', report: 'toviRijie', openDrawer: 'toviOpencash',
    display: 'toviDisplay', deviceStatus: 'toviDeviceStatus'};
  // Ids of this document's requests: unique across reloads too (a late result must not match).
  var prefix = 'tovi-' + Date.now().toString(36) + '-' + Math.random().toString(36).slice(2, 8) + '-';
  var count = 0;
  var waiting = Object.create(null);

  window.addEventListener('tovipos-result', function (event) {
    var result = event.detail;
    var settle = result && typeof result.id === 'string' ? waiting[result.id] : undefined;
    if (!settle) return;
    delete waiting[result.id];
    settle(result);
  });

  function request(name, job) {
    return new Promise(function (resolve, reject) {
      var fn = window[name];
      if (typeof fn !== 'function') throw new Error(name + ' is not available: the page is not in the till client');
      var object = typeof job === 'string' ? JSON.parse(job) : job;
      if (!object || typeof object !== 'object' || Array.isArray(object)) throw new TypeError('a job is an object');
      var id = prefix + (++count);
      waiting[id] = function (result) {
        if (result.outcome === 'ok') return resolve(result);
        var error = new Error(result.message);
        error.code = result.code;
        error.result = result;
        reject(error);
      };
      fn(JSON.stringify(Object.assign({}, object, {id: id})));
    });
  }

  var tovi = {};
  Object.keys(FUNCTIONS).forEach(function (method) {
    tovi[method] = function (job) { return request(FUNCTIONS[method], job); };
  });
  window.tovi = tovi;
})();
