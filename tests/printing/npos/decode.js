'use strict';
// Splits an ESC/POS byte stream into its commands with the parser of the npos package
// and prints them as a JSON array of strings:
//   "ESC t 07"       a command: its introducer, its function, then its parameter bytes
//   "LINE <text>"    text ended by CR LF, decoded as code page 866
//   "TEXT <text>"    text at the end of a run without CR LF
// Usage: node decode.js <file with the stream>

const fs = require('fs');
const npos = require('npos');
const iconv = require('iconv-lite');

function hexByte(b) {
  return b.toString(16).toUpperCase().padStart(2, '0');
}

const raw = fs.readFileSync(process.argv[2]);
const ast = npos.parser().analyze(raw);
if (ast.error) {
  process.stderr.write(String(ast.error.message || ast.error) + '\n');
  process.exit(2);
}

const out = [];
for (const node of ast.tree) {
  const bytes = raw.subarray(node.offset, node.offset + node.length);
  if (node.ascii === 'STX') {
    const text = iconv.decode(bytes, 'cp866');
    const parts = text.split('\r\n');
    const rest = parts.pop();
    for (const line of parts) out.push('LINE ' + line);
    if (rest.length > 0) out.push('TEXT ' + rest);
    continue;
  }
  const fn = node.fn || '';
  const params = Array.from(bytes.subarray(1 + fn.length), hexByte);
  out.push([node.ascii, fn].concat(params).filter((s) => s.length > 0).join(' '));
}
process.stdout.write(JSON.stringify(out, null, 1) + '\n');
