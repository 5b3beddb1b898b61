// The tavren-service child process: one JSON request per line in, responses and event lines out.
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';

/** @typedef {{ ok: boolean, result?: any, error?: string }} Reply */

// A request the service has not answered in this time is failed here; the service itself bounds
// every desktop call far below it (capture, the slowest, gives up after 7 s).
const REPLY_TIMEOUT_MS = 60_000;

export class ServiceConnection {
  /**
   * @param {string} binary path of tavren-service
   * @param {NodeJS.ProcessEnv} env its environment
   */
  constructor(binary, env) {
    this.binary = binary;
    this.nextId = 1;
    /** @type {Map<string, {resolve: (r: Reply) => void, reject: (e: Error) => void, timer: NodeJS.Timeout}>} */
    this.pending = new Map();
    /** @type {Array<(event: object) => void>} */
    this.eventListeners = [];
    /** @type {string | null} why the service can no longer answer */
    this.gone = null;
    this.child = spawn(binary, [], { env, stdio: ['pipe', 'pipe', 'inherit'] });
    this.child.on('error', (err) => this.fail(`tavren-service could not be started (${binary}): ${err.message}`));
    this.child.on('exit', (code, signal) =>
      this.fail(`tavren-service ended (${signal ? `signal ${signal}` : `status ${code}`})`));
    // A write after the service ended is reported through 'exit'; the pipe error itself is noise.
    this.child.stdin.on('error', () => {});
    createInterface({ input: this.child.stdout, crlfDelay: Infinity }).on('line', (line) => this.take(line));
  }

  /** @param {(event: object) => void} listener called with every event line (a line without "id") */
  onEvent(listener) {
    this.eventListeners.push(listener);
  }

  /**
   * Sends one request; resolves with the response's ok/result/error, rejects when the service
   * is gone or does not answer.
   * @param {string} method
   * @param {object} [params]
   * @returns {Promise<Reply>}
   */
  call(method, params = {}) {
    if (this.gone) return Promise.reject(new Error(this.gone));
    const id = String(this.nextId++);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`tavren-service did not answer ${method} within ${REPLY_TIMEOUT_MS / 1000} s`));
      }, REPLY_TIMEOUT_MS);
      this.pending.set(id, { resolve, reject, timer });
      this.child.stdin.write(JSON.stringify({ id, version: 1, method, params }) + '\n');
    });
  }

  /** Ends the service by closing its input, as the protocol asks. */
  close() {
    this.child.stdin.end();
  }

  /** @param {string} line */
  take(line) {
    let message;
    try {
      message = JSON.parse(line);
    } catch {
      return;  // the service writes only JSON lines; anything else is not ours to answer
    }
    if (message === null || typeof message !== 'object') return;
    if (!('id' in message)) {
      for (const listener of this.eventListeners) listener(message);
      return;
    }
    const waiter = this.pending.get(message.id);
    if (!waiter) return;
    this.pending.delete(message.id);
    clearTimeout(waiter.timer);
    waiter.resolve({ ok: message.ok === true, result: message.result, error: message.error });
  }

  /** @param {string} reason */
  fail(reason) {
    if (this.gone) return;
    this.gone = reason;
    for (const { reject, timer } of this.pending.values()) {
      clearTimeout(timer);
      reject(new Error(reason));
    }
    this.pending.clear();
  }
}
