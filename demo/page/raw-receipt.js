// The demo's picture receipt: a logo, Chinese text, a QR code and a bar code as exact ESC/POS
// bytes, built with the ESC/POS encoder from npm (@point-of-sale/receipt-printer-encoder, which the
// scripts install; the page loads its browser build) and sent with toviPrintRaw. The page and the
// tests (under Node) run this same file, so a test can build the very bytes the page sent.
(function (root) {
  'use strict';

  // The logo, drawn here so that it needs no picture file: "TOVI" in a 5 x 7 dot font, every dot
  // 8 x 8 printer dots, in a frame. Width and height are multiples of 8 and 24, as images must be.
  var LETTERS = {
    T: ['#####', '..#..', '..#..', '..#..', '..#..', '..#..', '..#..'],
    O: ['.###.', '#...#', '#...#', '#...#', '#...#', '#...#', '.###.'],
    V: ['#...#', '#...#', '#...#', '#...#', '.#.#.', '.#.#.', '..#..'],
    I: ['#####', '..#..', '..#..', '..#..', '..#..', '..#..', '#####']
  };

  function logo() {
    var width = 256, height = 96, dot = 8;
    var data = new Uint8ClampedArray(width * height * 4);
    data.fill(255);
    function ink(x, y) {
      var i = (y * width + x) * 4;
      data[i] = data[i + 1] = data[i + 2] = 0;
    }
    for (var y = 0; y < height; y++) {
      for (var x = 0; x < width; x++) {
        if (x < 4 || y < 4 || x >= width - 4 || y >= height - 4) ink(x, y);
      }
    }
    var left = (width - 23 * dot) / 2, top = (height - 7 * dot) / 2;
    'TOVI'.split('').forEach(function (letter, n) {
      LETTERS[letter].forEach(function (row, r) {
        for (var c = 0; c < 5; c++) {
          if (row[c] !== '#') continue;
          for (var dy = 0; dy < dot; dy++) {
            for (var dx = 0; dx < dot; dx++) ink(left + (n * 6 + c) * dot + dx, top + r * dot + dy);
          }
        }
      });
    });
    return {width: width, height: height, data: data};
  }

  // Text in GB2312, the printer's Chinese code page. The encoder has single-byte code pages only,
  // so the table comes from the platform's own GB2312 decoder, run over every two-byte code.
  var gbCodes = null;
  function gb2312(text) {
    if (!gbCodes) {
      gbCodes = {};
      var decoder = new TextDecoder('gb2312');
      for (var lead = 0xA1; lead <= 0xF7; lead++) {
        for (var trail = 0xA1; trail <= 0xFE; trail++) {
          var c = decoder.decode(new Uint8Array([lead, trail]));
          if (c.length === 1 && c !== '\uFFFD' && !(c in gbCodes)) gbCodes[c] = [lead, trail];
        }
      }
    }
    var out = [];
    Array.from(text).forEach(function (c) {
      if (c.charCodeAt(0) < 0x80) out.push(c.charCodeAt(0));
      else Array.prototype.push.apply(out, gbCodes[c] || [0x3F]);
    });
    return out;
  }

  // One line of Chinese text: Chinese mode on (FS &), the line with its alignment (ESC a), and
  // back to what the encoder expects (left, FS .).
  function chinese(text, align) {
    return [0x1B, 0x61, align || 0, 0x1C, 0x26].concat(gb2312(text), [0x0A, 0x1C, 0x2E, 0x1B, 0x61, 0]);
  }

  // Chinese characters take two columns.
  function pad(text, width) {
    var columns = 0;
    for (var i = 0; i < text.length; i++) columns += text.charCodeAt(i) > 0xff ? 2 : 1;
    while (columns < width) { text += ' '; columns++; }
    return text;
  }

  var RULE = '------------------------------------------------';  // 48 columns of font A on 80 mm

  // receipt: {shop, time, items: [{name, count, amount}], total, number, url}. The bytes, a Uint8Array.
  function build(Encoder, receipt) {
    var e = new Encoder({language: 'esc-pos', columns: 48, imageMode: 'raster'});
    e.initialize().align('center').image(logo(), 256, 96, 'threshold').newline();
    e.raw(chinese(receipt.shop + ' 图文小票', 1));
    if (receipt.time) e.raw(chinese('时间：' + receipt.time));
    e.raw(chinese(RULE));
    receipt.items.forEach(function (item) {
      e.raw(chinese(pad(item.name, 20) + pad('x' + item.count, 8) + item.amount));
    });
    e.raw(chinese(RULE));
    // Double width and height (GS !) for the total.
    e.raw([0x1D, 0x21, 0x11]).raw(chinese('合计：￥' + receipt.total)).raw([0x1D, 0x21, 0x00]);
    e.raw(chinese('扫码开具电子发票', 1));
    e.align('center').qrcode(receipt.url, {model: 2, size: 6, errorlevel: 'm'});
    e.barcode(receipt.number, 'code128', {height: 64, width: 2, text: 'below'});
    e.raw(chinese('谢谢惠顾，欢迎再来！', 1));
    e.cut('partial');
    return e.encode();
  }

  // RFC 4648 base64, as toviPrintRaw takes the bytes.
  function base64(bytes) {
    var text = '';
    for (var i = 0; i < bytes.length; i += 0x8000) {
      text += String.fromCharCode.apply(null, Array.from(bytes.subarray(i, i + 0x8000)));
    }
    return btoa(text);
  }

  var api = {build: build, base64: base64};
  if (typeof module === 'object' && module.exports) module.exports = api;
  else root.toviRawReceipt = api;
})(this);
