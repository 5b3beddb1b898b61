// Through the whole server, on a stand-in service: tools appear as the service answers their
// methods, and its event lines reach the host as MCP log messages.
import assert from 'node:assert/strict';
import { resolve } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { LoggingMessageNotificationSchema } from '@modelcontextprotocol/sdk/types.js';

const packageDir = resolve(fileURLToPath(new URL('..', import.meta.url)));

test('a watched application\'s window events arrive as log messages', async () => {
  const client = new Client({ name: 'tavren-test', version: '1.0.0' });
  await client.connect(new StdioClientTransport({
    command: process.execPath,
    args: [resolve(packageDir, 'bin', 'tavren-mcp.js'), '--service', resolve(packageDir, 'test', 'fake-service.js')],
    stderr: 'inherit',
  }));
  try {
    const names = (await client.listTools()).tools.map((tool) => tool.name);
    assert.ok(names.includes('watch_app'), 'listed: the service knows watchApp');
    assert.ok(!names.includes('display_status') && !names.includes('start_recording'), 'not listed: unknown methods');

    const message = new Promise((done) => client.setNotificationHandler(LoggingMessageNotificationSchema, (n) => done(n.params)));
    await client.setLoggingLevel('info');
    const watched = /** @type {any} */ (await client.callTool({ name: 'watch_app', arguments: { pid: 42 } }));
    assert.deepEqual(JSON.parse(watched.content[0].text), { pid: 42, watching: true, windows: 1 });
    const params = /** @type {any} */ (await message);
    assert.equal(params.level, 'info');
    assert.equal(params.logger, 'tavren.windowLifecycle');
    assert.equal(params.data.notification, 'AXMoved');
    assert.equal(params.data.pid, 42);
  } finally {
    await client.close();
  }
});
