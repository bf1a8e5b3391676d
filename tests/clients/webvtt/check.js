// Parses a WebVTT file with the W3C's parser and validator (webvtt-parser)
// and prints one line per error it reports ("error<TAB>line<TAB>message")
// and one per cue it read ("cue<TAB>start<TAB>end<TAB>text", seconds with
// three decimals, line breaks in the text as the two characters \n).
//   node check.js FILE
"use strict";
const fs = require("fs");
const { WebVTTParser } = require("webvtt-parser");

const text = fs.readFileSync(process.argv[2], "utf8");
const tree = new WebVTTParser().parse(text, "subtitles");
let out = "";
for (const e of tree.errors) out += `error\t${e.line}\t${e.message}\n`;
for (const cue of tree.cues) {
  out += `cue\t${cue.startTime.toFixed(3)}\t${cue.endTime.toFixed(3)}\t${cue.text.replace(/\n/g, "\\n")}\n`;
}
process.stdout.write(out);
