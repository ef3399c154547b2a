// Reads lines given as hexadecimal UTF-16 units (one line of input per test line, units
// separated by spaces, "-" for an empty line) from the file named on the command line and
// prints one character per line: 1 when the chapter-heading expression matches, else 0.
'use strict';
const fs = require('fs');

const heading = /^(.{0,6})(第|正文|作品|VIP|vip)(.{0,30}$)|^[一二两三四五六七八九十○零百千0-9１２３４５６７８９０]{1,4}(、|，|：|\s|\u3000)(.{0,20}$)/i;

const input = fs.readFileSync(process.argv[2], 'latin1').split('\n');
let out = '';
for (const row of input) {
    if (row === '')
        continue;
    const line = row === '-' ? '' : String.fromCharCode(...row.split(' ').map((h) => parseInt(h, 16)));
    out += heading.test(line) ? '1' : '0';
}
process.stdout.write(out + '\n');
