// The tool table: one entry per MCP tool. An entry names the service method it calls, its input
// schema and description, and optionally how arguments become the method's params (`params`),
// how the result is shown (`render`), how the observed window is checked (`guard`), and a
// harmless request that tells whether the service has the method yet (`probe`).
import { keyCodeOf, modifierFlags } from './keys.js';

/**
 * @typedef {{ content: Array<object>, isError?: boolean }} ToolResult
 * @typedef {object} ToolEntry
 * @property {string} name
 * @property {string} method
 * @property {(args: any) => string} [methodFor] the method for these arguments, when not always `method`
 * @property {string} description
 * @property {object} inputSchema
 * @property {(args: any) => object | string} [params] service params, or a string: a refusal
 * @property {(result: any, args: any) => ToolResult} [render]
 * @property {'service' | 'client'} [guard] the observed `window` is checked by the service
 *   (sent as expectedWindow) or here, against the window list, before the call
 * @property {boolean} [needsFront] with guard 'client': refuse unless the window's application is in front
 * @property {object} [probe] params of a request that answers without acting; the tool is listed
 *   only when the service knows the method
 * @property {{ readOnlyHint?: boolean, destructiveHint?: boolean, idempotentHint?: boolean, openWorldHint?: boolean }} [annotations]
 */

const observedWindow = {
  type: 'object',
  description:
    'The window as you observed it: its record from list_windows ({id, pid, x, y, w, h}), passed back ' +
    'unchanged. If the window has since moved, resized, closed or changed owner, nothing is done and ' +
    'the answer starts "STALE WINDOW": observe again and retry with the fresh record.',
  properties: {
    id: { type: 'integer', description: 'window id' },
    pid: { type: 'integer', description: 'owning process' },
    x: { type: 'number' },
    y: { type: 'number' },
    w: { type: 'number' },
    h: { type: 'number' },
  },
  required: ['id', 'pid', 'x', 'y', 'w', 'h'],
};

const appSelector = {
  app: { type: 'string', description: 'application name or id (as list_apps shows it)' },
  pid: { type: 'integer', description: 'application process id' },
};

const elementPath = {
  type: 'string',
  description:
    'element path from read_tree: w<i> is the i-th window, a<i> an open menu, p<windowId> a pop-up ' +
    'menu; each further .<n> is the n-th child (0-based), e.g. w0.3.1',
};

/** @param {any} value */
export function jsonText(value) {
  return { content: [{ type: 'text', text: JSON.stringify(value) }] };
}

/** @param {string} text */
export function refusal(text) {
  return { content: [{ type: 'text', text }], isError: true };
}

/** @param {any} window the observed record */
export function staleWindow(window) {
  return refusal(
    `STALE WINDOW: window ${window.id} of pid ${window.pid} is no longer at ` +
      `x=${window.x} y=${window.y} w=${window.w} h=${window.h} (it moved, resized, closed or changed owner ` +
      'since you observed it). Nothing was done. Observe again (list_windows, then read_tree or ' +
      'capture_window) and retry with the fresh window record.');
}

/** The service's window-guard form of an observed record. @param {any} window */
export function expectedWindow(window) {
  return { windowId: window.id, pid: window.pid, x: window.x, y: window.y, w: window.w, h: window.h };
}

/** @param {any} args */
function appParams(args) {
  const params = {};
  if (args.app !== undefined) params.app = args.app;
  if (args.pid !== undefined) params.pid = args.pid;
  if (args.window && args.pid === undefined && args.app === undefined) params.pid = args.window.pid;
  return params;
}

/** One line per tree row: path, role, label, value, frame, actions. @param {any} tree */
function renderTree(tree) {
  const lines = [`${tree.name} (pid ${tree.pid})${tree.trusted ? '' : ': accessibility bus unreachable'}` +
    `${tree.scopeMatched === false ? ': the window scope matched no single window' : ''}; ` +
    `${tree.elements.length} rows: path role "label" [value] @x,y wxh {actions}`];
  for (const row of tree.elements) {
    let line = `${row.path} ${row.role}${row.subrole ? `/${row.subrole}` : ''}`;
    if (row.label) line += ` ${JSON.stringify(row.label)}`;
    if (row.value !== '') line += ` [${row.valueRedacted ? 'protected' : JSON.stringify(row.value)}]`;
    line += ` @${row.x},${row.y} ${row.w}x${row.h}`;
    if (row.actions.length > 0) line += ` {${row.actions.join(',')}}`;
    lines.push(line);
  }
  return { content: [{ type: 'text', text: lines.join('\n') }] };
}

/** @param {any} result @param {any} args */
function renderElementStatus(result, args) {
  if (result.status === 'not-found') {
    return refusal(`NOT FOUND: no element at path ${JSON.stringify(args.path)} now. Read the tree again ` +
      'for current paths (paths shift when elements appear or go).');
  }
  return jsonText(result);
}

/** @param {any} result @param {any} args */
function renderCapture(result, args) {
  const window = args.window;
  const scale = window.w > 0 ? window.w / result.width : 1;
  return {
    content: [
      { type: 'image', data: result.dataBase64, mimeType: result.mediaType },
      {
        type: 'text',
        text: `window ${window.id}: ${result.width}x${result.height} ${result.mediaType}; image pixel (px, py) ` +
          `is screen point (${window.x} + px*${scale.toFixed(4)}, ${window.y} + py*${scale.toFixed(4)})`,
      },
    ],
  };
}

/** @type {ToolEntry[]} */
export const TOOLS = [
  {
    name: 'list_apps',
    method: 'listRunningApps',
    description: 'Observe: the running applications ({id, name, pid, path}). Start here to find the pid or name of the application to work with.',
    inputSchema: { type: 'object', properties: {} },
    annotations: { readOnlyHint: true },
  },
  {
    name: 'list_windows',
    method: 'windowCatalog',
    description:
      'Observe: window records {id, pid, owner, title, layer, onScreen, x, y, w, h}, front to back. ' +
      'With app or pid, only that application\'s windows. Pass a record unchanged as `window` to ' +
      'capture_window, read_tree and every acting tool: it is how the service checks that the window ' +
      'you observed is still the one you act on.',
    inputSchema: { type: 'object', properties: { ...appSelector } },
    methodFor: (args) => (args.app !== undefined || args.pid !== undefined ? 'windowServerWindows' : 'windowCatalog'),
    params: (args) => appParams(args),
    render: (result) => jsonText(Array.isArray(result) ? result : result.windows),
    annotations: { readOnlyHint: true },
  },
  {
    name: 'read_tree',
    method: 'axTree',
    description:
      'Observe: the accessibility tree of an application (or of one observed window), one row per ' +
      'element: path, role, label, [value], screen frame @x,y wxh and {actions}. The path names the ' +
      'element for perform_action, set_value and select_text: w<i> is the i-th window, a<i> an open ' +
      'menu, p<windowId> a pop-up menu, and each further .<n> the n-th child (0-based), so w0.3.1 is ' +
      'the second child of the fourth child of the first window. Paths are resolved afresh on each ' +
      'call: read the tree again after anything that adds or removes elements. Also the way to ' +
      'verify an action: read again and check the change you expected.',
    inputSchema: {
      type: 'object',
      properties: {
        ...appSelector,
        window: { ...observedWindow, description: 'only the rows of this observed window (a record from list_windows)' },
        maxElements: { type: 'integer', minimum: 1, maximum: 2000, default: 400, description: 'row budget' },
        maxDepth: { type: 'integer', minimum: 1, maximum: 30, default: 30, description: 'depth limit' },
      },
    },
    params: (args) => {
      const params = appParams(args);
      params.maxElements = args.maxElements ?? 400;
      params.maxDepth = args.maxDepth ?? 30;
      if (args.window) params.window = { x: args.window.x, y: args.window.y, w: args.window.w, h: args.window.h };
      return params;
    },
    render: renderTree,
    annotations: { readOnlyHint: true },
  },
  {
    name: 'app_windows',
    method: 'appWindows',
    description: 'Observe: an application\'s windows as its accessibility tree lists them (index i is path w<i>), with minimized and focused state.',
    inputSchema: { type: 'object', properties: { ...appSelector } },
    params: appParams,
    annotations: { readOnlyHint: true },
  },
  {
    name: 'capture_window',
    method: 'captureWindow',
    description:
      'Observe: an image of one window\'s contents (even where other windows cover it), returned as an ' +
      'image. By default one image pixel per screen pixel, so a point in the image maps to the screen ' +
      'as the text beside the image says; use it to find click targets and to verify an action.',
    inputSchema: {
      type: 'object',
      properties: {
        window: observedWindow,
        maxWidth: { type: 'integer', minimum: 1, maximum: 4096, description: 'largest image width (JPEG); default the window\'s width' },
        format: { type: 'string', enum: ['jpeg', 'png'], default: 'jpeg', description: 'png: lossless, at the window\'s own size' },
      },
      required: ['window'],
    },
    params: (args) => ({
      windowId: args.window.id,
      maxWidth: args.maxWidth ?? Math.max(1, Math.round(args.window.w)),
      guiCapture: args.format === 'png',
    }),
    render: renderCapture,
    annotations: { readOnlyHint: true },
  },
  {
    name: 'perform_action',
    method: 'performAXAction',
    description:
      'Act: perform an accessibility action (one of the {actions} read_tree lists for the row, e.g. ' +
      'AXPress) on the element at `path` in the observed window\'s application. Works on background ' +
      'windows. Then verify with read_tree or capture_window.',
    inputSchema: {
      type: 'object',
      properties: {
        window: observedWindow,
        path: elementPath,
        action: { type: 'string', default: 'AXPress', description: 'action name as read_tree lists it' },
      },
      required: ['window', 'path'],
    },
    guard: 'service',
    params: (args) => ({ pid: args.window.pid, path: args.path, action: args.action ?? 'AXPress' }),
    render: renderElementStatus,
  },
  {
    name: 'set_value',
    method: 'setAXValue',
    description: 'Act: focus the element at `path` and replace its value (text fields, sliders). Then verify with read_tree.',
    inputSchema: {
      type: 'object',
      properties: { window: observedWindow, path: elementPath, value: { type: 'string' } },
      required: ['window', 'path', 'value'],
    },
    guard: 'service',
    params: (args) => ({ pid: args.window.pid, path: args.path, value: args.value }),
    render: renderElementStatus,
  },
  {
    name: 'select_text',
    method: 'selectAXText',
    description:
      'Act: select `text` inside the text element at `path`, or put the caret before or after it. ' +
      'prefix and suffix (the text just before and after) pick one occurrence when there are several.',
    inputSchema: {
      type: 'object',
      properties: {
        window: observedWindow,
        path: elementPath,
        text: { type: 'string' },
        prefix: { type: 'string' },
        suffix: { type: 'string' },
        selectionType: { type: 'string', enum: ['select', 'cursor_before', 'cursor_after'], default: 'select' },
      },
      required: ['window', 'path', 'text'],
    },
    guard: 'service',
    params: (args) => ({
      pid: args.window.pid, path: args.path, text: args.text, prefix: args.prefix ?? '', suffix: args.suffix ?? '',
      selectionType: args.selectionType ?? 'select',
    }),
    render: renderElementStatus,
  },
  {
    name: 'click',
    method: 'postMouse',
    description:
      'Act: click at screen point (x, y) in the observed window without bringing it to front or ' +
      'moving the real pointer. Take the point from read_tree (the middle of a row\'s frame) or ' +
      'from capture_window. kind: click, right_click, middle_click, move, or drag to (toX, toY).',
    inputSchema: {
      type: 'object',
      properties: {
        window: observedWindow,
        x: { type: 'number' },
        y: { type: 'number' },
        kind: { type: 'string', enum: ['click', 'right_click', 'middle_click', 'move', 'drag'], default: 'click' },
        clickCount: { type: 'integer', minimum: 1, maximum: 3, default: 1 },
        toX: { type: 'number', description: 'drag end' },
        toY: { type: 'number', description: 'drag end' },
      },
      required: ['window', 'x', 'y'],
    },
    guard: 'service',
    params: (args) => ({
      pid: args.window.pid, windowId: args.window.id, kind: args.kind ?? 'click', x: args.x, y: args.y,
      toX: args.toX ?? args.x, toY: args.toY ?? args.y, clickCount: args.clickCount ?? 1,
    }),
  },
  {
    name: 'press_key',
    method: 'postKey',
    description:
      'Act: press one key, with modifiers, in the observed window (to its focused widget) without ' +
      'bringing it to front. key: a letter, digit or punctuation character, or return, tab, space, ' +
      'backspace, delete, escape, left, right, up, down, home, end, pageup, pagedown, f1..f12. ' +
      'modifiers: shift, control, alt, super.',
    inputSchema: {
      type: 'object',
      properties: {
        window: observedWindow,
        key: { type: 'string' },
        modifiers: { type: 'array', items: { type: 'string', enum: ['shift', 'control', 'alt', 'super'] } },
      },
      required: ['window', 'key'],
    },
    guard: 'service',
    params: (args) => {
      const keyCode = keyCodeOf(String(args.key));
      if (keyCode === null) return `Unknown key ${JSON.stringify(args.key)}`;
      const modifiers = modifierFlags(args.modifiers ?? []);
      if ('unknown' in modifiers) return `Unknown modifier ${JSON.stringify(modifiers.unknown)}`;
      return { pid: args.window.pid, keyCode, flags: modifiers.flags };
    },
  },
  {
    name: 'scroll',
    method: 'postScroll',
    description: 'Act: scroll at screen point (x, y) in the observed window by dy lines (positive: toward the top) and dx lines (positive: toward the left).',
    inputSchema: {
      type: 'object',
      properties: {
        window: observedWindow,
        x: { type: 'number' },
        y: { type: 'number' },
        dy: { type: 'integer', default: 0 },
        dx: { type: 'integer', default: 0 },
      },
      required: ['window', 'x', 'y'],
    },
    guard: 'service',
    params: (args) => ({ pid: args.window.pid, windowId: args.window.id, x: args.x, y: args.y, dy: args.dy ?? 0, dx: args.dx ?? 0 }),
  },
  {
    name: 'type_text',
    method: 'remoteDesktopInput',
    description:
      'Act: type text (any script) as the keyboard would, into whatever has the keyboard focus. The ' +
      'observed window must be in front: call bring_to_front first, and focus the field (click or ' +
      'select_text). Then verify with read_tree.',
    inputSchema: {
      type: 'object',
      properties: { window: observedWindow, text: { type: 'string', maxLength: 4096 } },
      required: ['window', 'text'],
    },
    guard: 'client',
    needsFront: true,
    params: (args) => ({ type: 'text', text: args.text }),
  },
  {
    name: 'bring_to_front',
    method: 'bringToFront',
    description:
      'Act: make the observed window\'s application the front one, through that window. The answer\'s ' +
      'previousPid is what restore_front needs to give the front back when you are done.',
    inputSchema: {
      type: 'object',
      properties: { window: observedWindow, raise: { type: 'boolean', default: true, description: 'also raise the window above its application\'s others' } },
      required: ['window'],
    },
    guard: 'client',
    params: (args) => ({ pid: args.window.pid, windowId: args.window.id, raise: args.raise ?? true }),
  },
  {
    name: 'restore_front',
    method: 'restoreFront',
    description: 'Give the front back to the application bring_to_front displaced, unless the user has moved on since.',
    inputSchema: {
      type: 'object',
      properties: {
        previousPid: { type: 'integer', description: 'previousPid from bring_to_front' },
        targetPid: { type: 'integer', description: 'the pid brought to front' },
      },
      required: ['previousPid'],
    },
    params: (args) => ({ pid: args.previousPid, targetPid: args.targetPid ?? 0 }),
  },
  {
    name: 'frontmost_app',
    method: 'frontmostApp',
    description: 'Observe: the application in front ({pid, bundleId, name}).',
    inputSchema: { type: 'object', properties: {} },
    annotations: { readOnlyHint: true },
  },
  {
    name: 'clipboard_snapshot',
    method: 'pasteboardSnapshot',
    description: 'Keep the user\'s clipboard under `name` before work that replaces it; clipboard_restore puts it back.',
    inputSchema: { type: 'object', properties: { name: { type: 'string', minLength: 1 } }, required: ['name'] },
  },
  {
    name: 'clipboard_restore',
    method: 'pasteboardRestore',
    description: 'Put back the clipboard kept by clipboard_snapshot under `name`.',
    inputSchema: { type: 'object', properties: { name: { type: 'string', minLength: 1 } }, required: ['name'] },
  },
  // Listed only when the service answers them.
  {
    name: 'watch_app',
    method: 'watchApp',
    description:
      'Watch an application\'s windows: from then on, each window it creates, moves, resizes, renames, ' +
      'minimizes or closes arrives as a log message (logger "tavren.windowLifecycle").',
    inputSchema: { type: 'object', properties: { ...appSelector } },
    params: appParams,
    probe: { pid: -1 },
  },
  {
    name: 'start_recording',
    method: 'startRecording',
    description: 'Record the user\'s own clicks, keys and scrolls; each arrives as a log message (logger "tavren.recordingAction").',
    inputSchema: { type: 'object', properties: { recordingId: { type: 'string', minLength: 1 } }, required: ['recordingId'] },
    probe: {},
  },
  {
    name: 'stop_recording',
    method: 'stopRecording',
    description: 'Stop the recording start_recording began.',
    inputSchema: { type: 'object', properties: {} },
    probe: { method: 'startRecording', params: {} },
  },
  {
    name: 'display_status',
    method: 'remoteDisplayStatus',
    description: 'Observe: the displays, and whether a virtual display is present and who owns it.',
    inputSchema: { type: 'object', properties: {} },
    probe: {},
    annotations: { readOnlyHint: true },
  },
  {
    name: 'display_ensure',
    method: 'remoteDisplayEnsure',
    description: 'Make sure a display exists to work on, creating a virtual one for `owner` when there is none.',
    inputSchema: {
      type: 'object',
      properties: { owner: { type: 'string', minLength: 1 }, width: { type: 'integer' }, height: { type: 'integer' } },
      required: ['owner'],
    },
    probe: { method: 'remoteDisplayStatus', params: {} },
  },
  {
    name: 'display_release',
    method: 'remoteDisplayRelease',
    description: 'Release the virtual display `owner` ensured.',
    inputSchema: { type: 'object', properties: { owner: { type: 'string', minLength: 1 } }, required: ['owner'] },
    probe: { method: 'remoteDisplayStatus', params: {} },
  },
];

/** The method and params a probe sends. @param {ToolEntry} entry */
export function probeRequest(entry) {
  const probe = /** @type {any} */ (entry.probe);
  if (probe && typeof probe.method === 'string') return { method: probe.method, params: probe.params ?? {} };
  return { method: entry.method, params: probe ?? {} };
}
