// The MCP side: tools/list and tools/call over the tool table, and the service's event lines as
// MCP log messages.
import { Server } from '@modelcontextprotocol/sdk/server/index.js';
import { CallToolRequestSchema, ListToolsRequestSchema } from '@modelcontextprotocol/sdk/types.js';

import { expectedWindow, jsonText, probeRequest, refusal, staleWindow } from './tools.js';

/** @typedef {import('./tools.js').ToolEntry} ToolEntry */
/** @typedef {import('./service.js').ServiceConnection} ServiceConnection */

export const INSTRUCTIONS =
  'Tavren observes and operates the applications on this desktop through their accessibility trees ' +
  'and background input. Work in a loop. 1 Observe: list_apps, then list_windows for the window ' +
  'record {id, pid, x, y, w, h}; read_tree for its elements (each row has a path such as w0.3.1) and ' +
  'capture_window to see it. 2 Act: pass the window record unchanged as `window`, with an element ' +
  'path (perform_action, set_value, select_text) or a screen point (click, scroll). If the window ' +
  'moved, resized or closed since you observed it, nothing is done and the answer starts ' +
  '"STALE WINDOW": observe again. 3 Verify: read_tree or capture_window again and check the change ' +
  'you expected before the next step. Paths: w<i> is the i-th window, a<i> an open menu, ' +
  'p<windowId> a pop-up menu; each further .<n> is the n-th child counting from 0. Paths are ' +
  'resolved afresh on every call, so read the tree again after the interface changes.';

/**
 * The entries the service can serve: every entry without a probe, and those whose probe the
 * service does not answer "Unknown method".
 * @param {ServiceConnection} service
 * @param {ToolEntry[]} entries
 */
export async function availableTools(service, entries) {
  /** @type {Map<string, Promise<boolean>>} */
  const known = new Map();
  const answered = (/** @type {{method: string, params: object}} */ request) => {
    if (!known.has(request.method)) {
      known.set(request.method, service.call(request.method, request.params).then(
        (reply) => reply.ok || reply.error !== `Unknown method ${request.method}`));
    }
    return /** @type {Promise<boolean>} */ (known.get(request.method));
  };
  const keep = await Promise.all(entries.map((entry) => (entry.probe ? answered(probeRequest(entry)) : true)));
  return entries.filter((_, i) => keep[i]);
}

/** @param {any} window */
function isWindowRecord(window) {
  return window !== null && typeof window === 'object' &&
    ['id', 'pid', 'x', 'y', 'w', 'h'].every((key) => typeof window[key] === 'number' && Number.isFinite(window[key]));
}

/**
 * Whether the observed window still exists with the same owner and frame (the service's own rule
 * for guarded methods, applied here for methods the service does not guard).
 * @param {ServiceConnection} service
 * @param {any} window
 */
async function windowUnchanged(service, window) {
  const reply = await service.call('windowCatalog');
  if (!reply.ok || !Array.isArray(reply.result)) return false;
  const now = reply.result.find((record) => record.id === window.id);
  return now !== undefined && now.pid === window.pid &&
    ['x', 'y', 'w', 'h'].every((key) => now[key] === Math.round(window[key]));
}

/**
 * Runs one tool call.
 * @param {ServiceConnection} service
 * @param {ToolEntry} entry
 * @param {any} args
 * @returns {Promise<import('./tools.js').ToolResult>}
 */
export async function callTool(service, entry, args) {
  const schema = /** @type {any} */ (entry.inputSchema);
  for (const key of schema.required ?? []) {
    if (args[key] === undefined) return refusal(`Missing argument ${key}`);
  }
  if (args.window !== undefined && !isWindowRecord(args.window)) {
    return refusal('window must be a window record from list_windows: {id, pid, x, y, w, h}, all numbers');
  }
  if (entry.guard === 'client') {
    if (!(await windowUnchanged(service, args.window))) return staleWindow(args.window);
    if (entry.needsFront) {
      const front = await service.call('frontmostApp');
      if (front.ok && front.result.pid !== args.window.pid) {
        return refusal(`NOT IN FRONT: pid ${args.window.pid} is not the front application ` +
          `(pid ${front.result.pid} is), so the input would reach another application. Nothing was done. ` +
          'Call bring_to_front with this window first.');
      }
    }
  }
  const params = entry.params ? entry.params(args) : args;
  if (typeof params === 'string') return refusal(params);
  if (entry.guard === 'service') params.expectedWindow = expectedWindow(args.window);
  const method = entry.methodFor ? entry.methodFor(args) : entry.method;
  const reply = await service.call(method, params);
  if (!reply.ok) return refusal(reply.error ?? `${method} failed`);
  if (reply.result && reply.result.status === 'stale-window') return staleWindow(args.window);
  return entry.render ? entry.render(reply.result, args) : jsonText(reply.result);
}

/** The logger name of an event line ("windowLifecycle", "recordingAction", ...). @param {any} event */
export function eventLogger(event) {
  return `tavren.${typeof event.event === 'string' ? event.event : 'event'}`;
}

/**
 * One MCP server over the service with the given tools. Several may share a service (one per
 * HTTP session); `servers` collects the live ones so that events reach each.
 * @param {ServiceConnection} service
 * @param {ToolEntry[]} tools
 * @param {string} version
 */
export function createMcpServer(service, tools, version) {
  const server = new Server(
    { name: 'tavren', version },
    { capabilities: { tools: {}, logging: {} }, instructions: INSTRUCTIONS });
  const byName = new Map(tools.map((entry) => [entry.name, entry]));
  server.setRequestHandler(ListToolsRequestSchema, async () => ({
    tools: tools.map((entry) => ({
      name: entry.name,
      description: entry.description,
      inputSchema: entry.inputSchema,
      ...(entry.annotations ? { annotations: entry.annotations } : {}),
    })),
  }));
  server.setRequestHandler(CallToolRequestSchema, async (request) => {
    const entry = byName.get(request.params.name);
    if (!entry) return refusal(`Unknown tool ${request.params.name}`);
    try {
      return await callTool(service, entry, request.params.arguments ?? {});
    } catch (err) {
      return refusal(err instanceof Error ? err.message : String(err));
    }
  });
  return server;
}
