#!/usr/bin/env node
// tavren-mcp: an MCP server whose tools are the methods of tavren-service.
//
//   tavren-mcp [--service PATH] [--headless] [--http PORT] [-- APP ARGS...]
//
// Speaks MCP over standard input and output (or streamable HTTP on 127.0.0.1:PORT with --http).
// Starts tavren-service, found beside this program, in the build tree of its checkout or on PATH.
// With --headless and no DISPLAY, first brings up a headless desktop (tavren-desktop) with APP
// as its first application, and ends it on exit.
import { randomUUID } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname } from 'node:path';

import { StdioServerTransport } from '@modelcontextprotocol/sdk/server/stdio.js';
import { StreamableHTTPServerTransport } from '@modelcontextprotocol/sdk/server/streamableHttp.js';
import { isInitializeRequest } from '@modelcontextprotocol/sdk/types.js';

import { findBinary, startDesktop } from '../src/launch.js';
import { availableTools, createMcpServer, eventLogger } from '../src/server.js';
import { ServiceConnection } from '../src/service.js';
import { TOOLS } from '../src/tools.js';

const USAGE = 'usage: tavren-mcp [--service PATH] [--headless] [--http PORT] [-- APP ARGS...]\n';
const version = JSON.parse(readFileSync(new URL('../package.json', import.meta.url), 'utf8')).version;

// Variables that would lead the service to another desktop than the headless one.
const OTHER_DESKTOP = ['DISPLAY', 'DBUS_SESSION_BUS_ADDRESS', 'AT_SPI_BUS_ADDRESS', 'DBUS_STARTER_ADDRESS',
  'DBUS_STARTER_BUS_TYPE', 'WAYLAND_DISPLAY', 'WAYLAND_SOCKET', 'NO_AT_BRIDGE'];

/** @param {string[]} argv */
function parseArguments(argv) {
  const options = { service: process.env.TAVREN_SERVICE || '', headless: false, http: -1, app: /** @type {string[]} */ ([]) };
  for (let i = 0; i < argv.length; ++i) {
    const arg = argv[i];
    if (arg === '--') {
      options.app = argv.slice(i + 1);
      break;
    } else if (arg === '--service' && i + 1 < argv.length) {
      options.service = argv[++i];
    } else if (arg === '--headless') {
      options.headless = true;
    } else if (arg === '--http' && i + 1 < argv.length) {
      options.http = Number(argv[++i]);
      if (!Number.isInteger(options.http) || options.http < 0 || options.http > 65535) return null;
    } else if (arg === '--help' || arg === '-h') {
      process.stdout.write(USAGE);
      process.exit(0);
    } else {
      return null;
    }
  }
  return options;
}

/** @param {string} text */
function die(text) {
  process.stderr.write(`tavren-mcp: ${text}\n`);
  process.exit(1);
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  if (!options) {
    process.stderr.write(USAGE);
    process.exit(2);
  }
  const service = options.service || findBinary('tavren-service');
  if (!service) die('tavren-service not found beside this program, in the build tree or on PATH (use --service PATH)');

  /** @type {NodeJS.ProcessEnv} */
  let env = { ...process.env };
  let stopDesktop = () => {};
  if (options.headless && !process.env.DISPLAY) {
    const desktopBinary = findBinary('tavren-desktop', dirname(service));
    if (!desktopBinary) die('tavren-desktop not found beside tavren-service or on PATH');
    const desktop = await startDesktop(desktopBinary, options.app).catch((err) => die(err.message));
    stopDesktop = desktop.stop;
    for (const name of OTHER_DESKTOP) delete env[name];
    env = { ...env, ...desktop.env };
  } else if (options.app.length > 0) {
    die('applications after -- are started only on a headless desktop (--headless without DISPLAY)');
  }

  const connection = new ServiceConnection(service, env);
  const tools = await availableTools(connection, TOOLS).catch((err) => die(err.message));

  /** @type {Set<import('@modelcontextprotocol/sdk/server/index.js').Server>} */
  const servers = new Set();
  connection.onEvent((event) => {
    for (const server of servers) {
      server.sendLoggingMessage({ level: 'info', logger: eventLogger(event), data: event }).catch(() => {});
    }
  });

  let ending = false;
  const shutdown = () => {
    if (ending) return;
    ending = true;
    connection.close();
    stopDesktop();
    // The service ends when its input closes; give it a moment to release what it holds.
    const exit = () => process.exit(0);
    connection.child.once('exit', exit);
    if (connection.gone) exit();
    setTimeout(exit, 5000).unref();
  };
  process.on('SIGTERM', shutdown);
  process.on('SIGINT', shutdown);
  process.on('SIGHUP', shutdown);

  if (options.http < 0) {
    const server = createMcpServer(connection, tools, version);
    servers.add(server);
    const transport = new StdioServerTransport();
    transport.onclose = shutdown;
    process.stdin.on('end', shutdown);
    await server.connect(transport);
    return;
  }
  serveHttp(options.http, connection, tools, servers);
}

/**
 * Streamable HTTP on 127.0.0.1, one MCP session per initialize.
 * @param {number} port
 * @param {ServiceConnection} connection
 * @param {import('../src/tools.js').ToolEntry[]} tools
 * @param {Set<import('@modelcontextprotocol/sdk/server/index.js').Server>} servers
 */
function serveHttp(port, connection, tools, servers) {
  /** @type {Map<string, StreamableHTTPServerTransport>} */
  const sessions = new Map();
  const http = createServer(async (req, res) => {
    const url = new URL(req.url ?? '/', 'http://127.0.0.1');
    if (url.pathname !== '/mcp') {
      res.writeHead(404).end();
      return;
    }
    let body;
    if (req.method === 'POST') {
      const chunks = [];
      for await (const chunk of req) chunks.push(chunk);
      try {
        body = JSON.parse(Buffer.concat(chunks).toString('utf8'));
      } catch {
        res.writeHead(400, { 'Content-Type': 'application/json' })
          .end(JSON.stringify({ jsonrpc: '2.0', error: { code: -32700, message: 'Parse error' }, id: null }));
        return;
      }
    }
    const sessionId = req.headers['mcp-session-id'];
    let transport = typeof sessionId === 'string' ? sessions.get(sessionId) : undefined;
    if (!transport && sessionId === undefined && req.method === 'POST' && isInitializeRequest(body)) {
      const actual = /** @type {import('node:net').AddressInfo} */ (http.address()).port;
      const server = createMcpServer(connection, tools, version);
      const fresh = new StreamableHTTPServerTransport({
        sessionIdGenerator: () => randomUUID(),
        onsessioninitialized: (id) => { sessions.set(id, fresh); },
        enableDnsRebindingProtection: true,
        allowedHosts: [`127.0.0.1:${actual}`, `localhost:${actual}`],
      });
      fresh.onclose = () => {
        if (fresh.sessionId) sessions.delete(fresh.sessionId);
        servers.delete(server);
      };
      servers.add(server);
      await server.connect(fresh);
      transport = fresh;
    }
    if (!transport) {
      res.writeHead(400, { 'Content-Type': 'application/json' })
        .end(JSON.stringify({ jsonrpc: '2.0', error: { code: -32000, message: 'Invalid or missing session ID' }, id: null }));
      return;
    }
    await transport.handleRequest(req, res, body);
  });
  http.listen(port, '127.0.0.1', () => {
    const actual = /** @type {import('node:net').AddressInfo} */ (http.address()).port;
    process.stderr.write(`tavren-mcp: listening on http://127.0.0.1:${actual}/mcp\n`);
  });
}

main().catch((err) => die(err instanceof Error ? err.stack ?? err.message : String(err)));
