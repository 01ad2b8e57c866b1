// The demo till: a few goods, a running total, and the client's ten functions behind buttons; the
// device buttons show what became of each request, and the status line the printer's status, asked
// again after each receipt.
// Every call is guarded, so the page also opens in an ordinary browser (it then says so).
(function () {
  'use strict';

  var GOODS = [
    {name: '矿泉水', price: 200},
    {name: '可乐', price: 350},
    {name: '面包', price: 680},
    {name: '牛奶', price: 550},
    {name: '方便面', price: 450},
    {name: '口香糖', price: 1000}
  ];
  // Prices and totals are counted in fen (0.01 yuan) so that sums stay exact.
  var cart = [];  // {name, price, count}

  function yuan(fen) {
    var sign = fen < 0 ? '-' : '';
    fen = Math.abs(fen);
    var cents = String(fen % 100);
    return sign + Math.floor(fen / 100) + '.' + (cents.length < 2 ? '0' + cents : cents);
  }

  function total() {
    return cart.reduce(function (sum, line) { return sum + line.price * line.count; }, 0);
  }

  function pad(text, width) {
    // Chinese characters take two columns on a receipt printer.
    var columns = 0;
    for (var i = 0; i < text.length; i++) columns += text.charCodeAt(i) > 0xff ? 2 : 1;
    while (columns < width) { text += ' '; columns++; }
    return text;
  }

  function now() {
    var d = new Date();
    function two(n) { return n < 10 ? '0' + n : String(n); }
    return d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + ' ' +
        two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  function receiptText() {
    var lines = ['      演示门店 销售小票', '时间：' + now(), '--------------------------------'];
    cart.forEach(function (line) {
      lines.push(pad(line.name, 14) + pad('x' + line.count, 6) + yuan(line.price * line.count));
    });
    lines.push('--------------------------------');
    // The full-width yuan sign: the half-width one has no code in GB2312 and would print as '?'.
    lines.push('合计：￥' + yuan(total()));
    lines.push('谢谢惠顾，欢迎再来！');
    return lines.join('\n');
  }

  function settlementText() {
    var count = cart.reduce(function (n, line) { return n + line.count; }, 0);
    return ['      演示门店 日结报表', '日期：' + now().slice(0, 10), '--------------------------------',
      '销售件数：' + count, '销售金额：￥' + yuan(total()), '收银员：演示'].join('\n');
  }

  // The request texts, one JSON object each, with string values only.
  var requests = {
    receipt: function () {
      return JSON.stringify({data: receiptText(), 'interface': 'USB', opencash: 'TRUE', cut: 'TRUE', blankrow: '3'});
    },
    settlement: function () {
      return JSON.stringify({data: settlementText(), 'interface': 'USB', opencash: 'FALSE', cut: 'TRUE', blankrow: '3'});
    },
    drawer: function () {
      return JSON.stringify({'interface': 'USB'});
    },
    display: function () {
      return JSON.stringify({display_type: '2', ysje: yuan(total()), 'interface': 'COM1', baudrate: '9600'});
    },
    // The picture receipt (raw-receipt.js): exact ESC/POS bytes in base64; null without the encoder.
    rawReceipt: function () {
      if (!window.ReceiptPrinterEncoder || !window.toviRawReceipt) return null;
      var number = 'TOVI-' + String(Date.now()).slice(-6);
      var bytes = window.toviRawReceipt.build(window.ReceiptPrinterEncoder, {
        shop: '演示门店', time: now(), total: yuan(total()), number: number,
        url: 'https://pos.example.com/e-invoice?no=' + number,
        items: cart.map(function (line) {
          return {name: line.name, count: line.count, amount: yuan(line.price * line.count)};
        })
      });
      return JSON.stringify({'interface': 'USB', data: window.toviRawReceipt.base64(bytes)});
    }
  };

  function status(text) {
    document.getElementById('status').textContent = text;
  }

  // Calls the client's function by name when it is there.
  function call(name, argument) {
    var fn = window[name];
    if (typeof fn !== 'function') {
      status('不在收银客户端中：' + name + ' 不可用');
      return false;
    }
    if (argument === undefined) fn(); else fn(argument);
    status('已发送：' + name);
    return true;
  }

  // The printer's status in words, the most urgent first; null facts (the link cannot know) say nothing.
  function printerWords(s) {
    if (!s || s.connected === false) return {text: '未连接', warn: true};
    if (s.source === 'none') return {text: '已连接，状态未知', warn: false};
    var problems = [];
    if (s.coverOpen) problems.push('盖子打开');
    if (s.paperOut) problems.push('缺纸'); else if (s.paperLow) problems.push('纸将用尽');
    if (s.online === false && !s.coverOpen && !s.paperOut) problems.push('离线');
    if (s.error) problems.push('故障');
    var words = problems.length ? problems : ['正常'];
    if (typeof s.drawerOpen === 'boolean') words.push(s.drawerOpen ? '钱箱开' : '钱箱关');
    var from = {virtual: '虚拟打印机', spooler: '打印队列', escpos: '打印机应答'}[s.source];
    return {text: words.join('，') + (from ? '（' + from + '）' : ''), warn: problems.length > 0};
  }

  function showPrinter(s) {
    var words = printerWords(s), line = document.getElementById('printer-status');
    line.textContent = '打印机：' + words.text;
    line.className = words.warn ? 'warn' : '';
  }

  // Asks the printer's status; the line shows it. A failure (no printer) carries a status too.
  function refreshPrinter() {
    if (!window.tovi || typeof window.toviDeviceStatus !== 'function') return;
    window.tovi.deviceStatus({'interface': 'USB', report: 'page'}).then(function (r) { showPrinter(r.status); },
        function (e) { showPrinter(e.result && e.result.status); });
  }

  // A device request through tovipos.js when the page is in the client: the page shows the
  // outcome itself ("report": "page": no box on the till for a failure). After a receipt, a
  // report or a drawer pulse the printer's line is brought up to date: from the status the result
  // carries (a printer with check_status), else by asking.
  var OUTCOMES = {print: ['已打印', '打印失败：'], printRaw: ['已打印', '打印失败：'], report: ['已打印', '打印失败：'],
    openDrawer: ['钱箱已打开', '打开钱箱失败：'], display: ['客显已更新', '客显失败：']};
  function device(method, name, request) {
    if (!window.tovi || typeof window[name] !== 'function') return call(name, request);
    status('已发送：' + name);
    var job = Object.assign(JSON.parse(request), {report: 'page'});
    function after(result) {
      if (method === 'display') return;
      if (result && result.status) showPrinter(result.status); else refreshPrinter();
    }
    window.tovi[method](job).then(function (r) { status(OUTCOMES[method][0]); after(r); },
        function (e) { status(OUTCOMES[method][1] + (e.message || e.code)); after(e.result); });
    return true;
  }

  var actions = {
    winMin: function () { call('toviWinMin'); },
    winMax: function () { call('toviWinMax'); },
    winClose: function () { call('toviWinClose'); },
    screenfull: function () { call('toviScreenfull'); },
    receipt: function () { device('print', 'toviPrint', requests.receipt()); },
    rawReceipt: function () {
      var request = requests.rawReceipt();
      if (request) device('printRaw', 'toviPrintRaw', request);
      else status('图文小票需要 ESC/POS 编码器（scripts/npm-deps.sh）');
    },
    settlement: function () { device('report', 'toviRijie', requests.settlement()); },
    drawer: function () { device('openDrawer', 'toviOpencash', requests.drawer()); },
    display: function () { device('display', 'toviDisplay', requests.display()); },
    printerStatus: function () {
      if (typeof window.toviDeviceStatus !== 'function') status('不在收银客户端中：toviDeviceStatus 不可用');
      else refreshPrinter();
    },
    clear: function () { cart = []; render(); status('已清空'); }
  };

  function add(good) {
    var line = cart.filter(function (l) { return l.name === good.name; })[0];
    if (line) line.count++; else cart.push({name: good.name, price: good.price, count: 1});
    render();
  }

  function render() {
    var body = document.getElementById('cart-lines');
    body.textContent = '';
    cart.forEach(function (line) {
      var row = document.createElement('tr');
      [line.name, String(line.count), yuan(line.price * line.count)].forEach(function (text) {
        var cell = document.createElement('td');
        cell.textContent = text;
        row.appendChild(cell);
      });
      body.appendChild(row);
    });
    document.getElementById('total').textContent = yuan(total());
  }

  function start() {
    var items = document.getElementById('items');
    GOODS.forEach(function (good, i) {
      var b = document.createElement('button');
      b.type = 'button';
      b.dataset.good = String(i);
      b.appendChild(document.createTextNode(good.name));
      var price = document.createElement('small');
      price.textContent = '¥' + yuan(good.price);
      b.appendChild(price);
      b.addEventListener('click', function () { add(good); });
      items.appendChild(b);
    });
    Array.prototype.forEach.call(document.querySelectorAll('[data-action]'), function (b) {
      b.addEventListener('click', function () { actions[b.dataset.action](); });
    });
    render();
  }

  // For scripted checks of the page: the request texts as the buttons would send them.
  window.toviDemo = {requests: requests, add: function (i) { add(GOODS[i]); }, total: function () { return yuan(total()); }};

  // "?demo=auto": nobody is at this till (the demo under a virtual display), so the page presses its
  // own buttons: goods, receipt, picture receipt, customer display, drawer, settlement report, full
  // screen, and then, "close" milliseconds later (default 6000), the close button. "?demo=close"
  // only closes.
  function autoRun(mode, closeAfter) {
    var presses = mode === 'auto' ? ['[data-good="0"]', '[data-good="2"]', '[data-good="2"]', '[data-good="3"]',
      '[data-action="receipt"]', '[data-action="rawReceipt"]', '[data-action="display"]', '[data-action="drawer"]',
      '[data-action="settlement"]', '[data-action="screenfull"]'] : [];
    var i = 0;
    function next() {
      if (i === presses.length) {
        setTimeout(function () { document.querySelector('[data-action="winClose"]').click(); }, closeAfter);
        return;
      }
      document.querySelector(presses[i++]).click();
      setTimeout(next, 700);
    }
    setTimeout(next, 700);
  }

  function query(name) {
    var match = new RegExp('[?&]' + name + '=([^&]*)').exec(location.search);
    return match ? decodeURIComponent(match[1]) : '';
  }

  function boot() {
    start();
    refreshPrinter();
    var mode = query('demo');
    if (mode === 'auto' || mode === 'close') autoRun(mode, parseInt(query('close'), 10) || 6000);
  }

  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', boot); else boot();
})();
