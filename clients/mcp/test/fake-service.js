#!/usr/bin/env node
// A stand-in for tavren-service that knows only ping and watchApp, and answers watchApp with an
// event line as the real one does when a watched window changes.
import { createInterface } from 'node:readline';

const write = (value) => process.stdout.write(JSON.stringify(value) + '\n');
createInterface({ input: process.stdin }).on('line', (line) => {
  const { id, method, params } = JSON.parse(line);
  if (method === 'ping') {
    write({ id, version: 1, ok: true, result: { service: 'fake' } });
  } else if (method === 'watchApp' && params.pid > 0) {
    write({ id, version: 1, ok: true, result: { pid: params.pid, watching: true, windows: 1 } });
    write({ version: 1, event: 'windowLifecycle', pid: params.pid, appId: 'fake', notification: 'AXMoved', title: 'Moved', at: 1 });
  } else if (method === 'watchApp') {
    write({ id, version: 1, ok: false, error: 'No matching running app' });
  } else {
    write({ id, version: 1, ok: false, error: `Unknown method ${method}` });
  }
});
