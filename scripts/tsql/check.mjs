// Parses statements meant for SQL Server with a T-SQL parser, since no SQL Server runs where the
// tests do. Each file holds batches separated by "GO" lines, as SQL Server's own tools read them.
// A batch preceded by a line "-- non vérifiable : <raison>" is one the engine accepts but the
// parser cannot read: it is listed, not parsed. Exit status 1 when any batch fails.
//
//   node scripts/tsql/check.mjs <fichier>...

import fs from 'node:fs';
import parserPackage from 'node-sql-parser';

const parser = new parserPackage.Parser();
const uncheckedMark = /^--\s*non vérifiable\s*:\s*(.*)$/m;

// What a batch's first word must make of it. The parser reads a word it does not know as an
// assignment to a variable ("SELEC 1" would pass), so the statement's kind is checked too.
const kindOfFirstWord = {
  CREATE: 'create', INSERT: 'insert', UPDATE: 'update', SELECT: 'select', DELETE: 'delete',
  DECLARE: 'declare', EXEC: 'exec', SET: 'set',
};
const kindsAllowed = new Set(Object.values(kindOfFirstWord));

function batchesOf(text) {
  return text.replace(/\r\n/g, '\n').split(/^GO[ \t]*$/m).map((batch) => {
    const unchecked = batch.match(uncheckedMark);
    const statement = batch.replace(/^--.*$/gm, '').trim();
    return { statement, uncheckedBecause: unchecked ? unchecked[1].trim() : null };
  }).filter((batch) => batch.statement !== '');
}

// ODBC's "?" markers, numbered as SQL Server's own parameters (@p1, @p2...), outside quotes.
function withNamedParameters(statement) {
  let number = 0;
  return statement.replace(/('(?:[^']|'')*'|\[[^\]]*\]|"[^"]*")|\?/g,
    (match, quoted) => quoted ?? `@p${++number}`);
}

function kindsOf(tree) {
  return (Array.isArray(tree) ? tree : [tree]).map((node) => node.type ?? node.stmt?.type);
}

function problemWith(statement) {
  let tree;
  try {
    tree = parser.astify(withNamedParameters(statement), { database: 'TransactSQL' });
  } catch (error) {
    return error.message.split('\n')[0].slice(0, 300);
  }
  const kinds = kindsOf(tree);
  const expected = kindOfFirstWord[statement.split(/\s+/)[0].toUpperCase()];
  if (!expected)
    return `premier mot inattendu (${statement.split(/\s+/)[0]})`;
  if (kinds[0] !== expected)
    return `lue comme « ${kinds[0]} » et non « ${expected} »`;
  const strange = kinds.find((kind) => !kindsAllowed.has(kind));
  if (strange)
    return `contient une instruction lue comme « ${strange} »`;
  return null;
}

const files = process.argv.slice(2);
if (files.length === 0) {
  console.error('Usage : node scripts/tsql/check.mjs <fichier>...');
  process.exit(2);
}
let parsed = 0;
let failed = 0;
const unchecked = [];
for (const file of files) {
  batchesOf(fs.readFileSync(file, 'utf8')).forEach(({ statement, uncheckedBecause }, index) => {
    if (uncheckedBecause !== null) {
      unchecked.push(`${file}, lot ${index + 1} : ${uncheckedBecause}`);
      return;
    }
    const problem = problemWith(statement);
    if (problem === null) {
      ++parsed;
      return;
    }
    ++failed;
    console.log(`Instruction refusée par l'analyseur T-SQL (${file}, lot ${index + 1}) : ${problem}`);
    console.log(`  ${statement.replace(/\s+/g, ' ').slice(0, 400)}`);
  });
}
console.log(`Instructions T-SQL : ${parsed} lues sans erreur, ${failed} refusées, ${unchecked.length} non vérifiables.`);
for (const line of unchecked)
  console.log(`  non vérifiable : ${line}`);
process.exit(failed === 0 ? 0 : 1);
