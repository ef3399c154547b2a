// An independent chapter list for a book file, written straight from the description of the
// reader's rules, to compare with folioway-toc. Prints number, tab, "start,end", tab, title.
//
// Decoding uses node's own TextDecoder; its GB18030 follows the Encoding Standard, which differs
// from ICU's in a handful of places (the single byte 80, a few codes remapped in GB18030-2022,
// a sequence cut off at the very end of the file). Inputs compared with it avoid those.
'use strict';
const fs = require('fs');

const heading = /^(.{0,6})(第|正文|作品|VIP|vip)(.{0,30}$)|^[一二两三四五六七八九十○零百千0-9１２３４５６７８９０]{1,4}(、|，|：|\s|\u3000)(.{0,20}$)/i;

function decode(bytes) {
    if (bytes.length >= 2 && bytes[0] === 0xff && bytes[1] === 0xfe)
        return new TextDecoder('utf-16le').decode(bytes);
    if (bytes.length >= 2 && bytes[0] === 0xfe && bytes[1] === 0xff)
        return new TextDecoder('utf-16be').decode(bytes);
    if (bytes.length >= 3 && bytes[0] === 0xef && bytes[1] === 0xbb && bytes[2] === 0xbf)
        return new TextDecoder('utf-8').decode(bytes);
    try {
        return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    } catch (e) {
        return new TextDecoder('gb18030').decode(bytes);
    }
}

function lines(text) {
    if (text === '')
        return [];
    const parts = text.split('\n');
    if (text.endsWith('\n'))
        parts.pop();
    return parts.map((l) => (l.endsWith('\r') ? l.slice(0, -1) : l));
}

const trimSpaces = (s) => s.replace(/^ +| +$/g, '');

const all = lines(decode(fs.readFileSync(process.argv[2])));
let first = trimSpaces(all.length ? all[0] : '').replace(/\r/g, '');
first = first === '' ? '正文' : trimSpaces(first);
const entries = [{ title: first, start: 0, end: 0 }];
let start = 0;
let lineNo = 0;
for (let i = 1; i < all.length; ++i) {
    lineNo = i;
    if (!heading.test(all[i]))
        continue;
    const previous = entries[entries.length - 1];
    previous.start = start;
    previous.end = lineNo - 1;
    start = lineNo - 1;
    entries.push({ title: trimSpaces(all[i]), start: start, end: start });
}
entries[entries.length - 1].start = start;
entries[entries.length - 1].end = lineNo;
process.stdout.write(entries.map((e, i) => `${i + 1}\t${e.start},${e.end}\t${e.title}\n`).join(''));
