// Runs the MCP conformance suite (pinned in package.json) against this server over streamable
// HTTP, the transport the suite speaks. Scenarios that do not apply are listed, with the reason,
// in conformance-baseline.yml. Exits with the suite's status.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const packageDir = resolve(fileURLToPath(new URL('..', import.meta.url)));
const args = [join(packageDir, 'bin', 'tavren-mcp.js'), '--http', '0'];
if (process.env.TAVREN_BUILD_DIR) args.push('--service', join(resolve(process.env.TAVREN_BUILD_DIR), 'bin', 'tavren-service'));
const env = { ...process.env };
delete env.DISPLAY;  // the suite needs no desktop: the service answers without one
const server = spawn(process.execPath, args, { env, stdio: ['pipe', 'inherit', 'pipe'] });

const url = await new Promise((done, fail) => {
  let text = '';
  server.stderr.on('data', (chunk) => {
    text += chunk;
    const match = /listening on (http:\S+)/.exec(text);
    if (match) done(match[1]);
  });
  server.on('exit', (code) => fail(new Error(`tavren-mcp ended (status ${code}): ${text}`)));
});
server.stderr.pipe(process.stderr);

const results = mkdtempSync(join(tmpdir(), 'tavren-mcp-conformance-'));
const suite = spawn(process.execPath, [
  join(packageDir, 'node_modules', '@modelcontextprotocol', 'conformance', 'dist', 'index.js'), 'server',
  '--url', url, '--expected-failures', join(packageDir, 'conformance-baseline.yml'), '--output-dir', results,
], { stdio: 'inherit' });
const status = await new Promise((done) => suite.on('exit', (code) => done(code ?? 1)));
server.kill('SIGTERM');
rmSync(results, { recursive: true, force: true });
process.exit(status);
