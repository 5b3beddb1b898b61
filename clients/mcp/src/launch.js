// Finding the service's binaries and bringing up a headless desktop for it.
import { spawn } from 'node:child_process';
import { accessSync, constants } from 'node:fs';
import { delimiter, dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const packageDir = resolve(dirname(fileURLToPath(import.meta.url)), '..');

/** @param {string} path */
function isExecutable(path) {
  try {
    accessSync(path, constants.X_OK);
    return true;
  } catch {
    return false;
  }
}

/**
 * Where a binary of the service is looked for, in order: beside this package's entry point
 * (an installed copy), the repository's build tree (a checkout), then PATH.
 * @param {string} name
 * @param {string} [besideDir] a directory to try first (the chosen service's own)
 * @param {NodeJS.ProcessEnv} [env]
 * @returns {string | null}
 */
export function findBinary(name, besideDir, env = process.env) {
  const dirs = [];
  if (besideDir) dirs.push(besideDir);
  dirs.push(join(packageDir, 'bin'), resolve(packageDir, '..', '..', 'build', 'bin'));
  for (const dir of (env.PATH ?? '').split(delimiter)) if (dir) dirs.push(dir);
  for (const dir of dirs) {
    const candidate = join(dir, name);
    if (isExecutable(candidate)) return candidate;
  }
  return null;
}

/**
 * Reads one `export K='V'` line as the desktop prints it (values quoted for a POSIX shell:
 * single quotes, a quote itself written '\'').
 * @param {string} line
 * @returns {[string, string] | null}
 */
export function parseExportLine(line) {
  const match = /^export ([A-Za-z_][A-Za-z0-9_]*)=(.*)$/.exec(line);
  if (!match) return null;
  let value = '';
  const text = match[2];
  for (let i = 0; i < text.length;) {
    if (text[i] === "'") {
      const end = text.indexOf("'", i + 1);
      if (end < 0) return null;
      value += text.slice(i + 1, end);
      i = end + 1;
    } else if (text[i] === '\\' && i + 1 < text.length) {
      value += text[i + 1];
      i += 2;
    } else {
      value += text[i];
      i += 1;
    }
  }
  return [match[1], value];
}

/**
 * Starts tavren-desktop (with `app` as its first application, when given) and resolves with the
 * environment its programs need once it has printed it. The desktop lives while its standard
 * input stays open: `stop()` closes it.
 * @param {string} binary
 * @param {string[]} app
 * @returns {Promise<{ env: Record<string, string>, stop: () => void }>}
 */
export function startDesktop(binary, app) {
  const args = app.length > 0 ? ['--', ...app] : [];
  const child = spawn(binary, args, { stdio: ['pipe', 'pipe', 'inherit'] });
  child.stdin.on('error', () => {});
  const stop = () => child.stdin.end();
  return new Promise((resolvePromise, reject) => {
    let text = '';
    const onExit = (code) => reject(new Error(`tavren-desktop ended before the desktop was up (status ${code})`));
    child.on('error', (err) => reject(new Error(`tavren-desktop could not be started (${binary}): ${err.message}`)));
    child.on('exit', onExit);
    // The desktop writes its whole environment with one flush once everything is up, so the
    // first complete lines that name a display are all of it.
    child.stdout.on('data', (chunk) => {
      text += chunk.toString('utf8');
      if (!text.endsWith('\n')) return;
      const env = {};
      for (const line of text.split('\n')) {
        const pair = parseExportLine(line);
        if (pair) env[pair[0]] = pair[1];
      }
      if (!env.DISPLAY) return;
      child.off('exit', onExit);
      child.stdout.removeAllListeners('data');
      child.stdout.resume();
      resolvePromise({ env, stop });
    });
  });
}
