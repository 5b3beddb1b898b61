// Key names an agent can use with press_key, mapped to the service's virtual key codes, and the
// modifier names mapped to the event flag bits the service takes.

/** @type {Record<string, number>} */
export const KEY_CODES = {
  a: 0, s: 1, d: 2, f: 3, h: 4, g: 5, z: 6, x: 7, c: 8, v: 9, b: 11, q: 12, w: 13, e: 14, r: 15,
  y: 16, t: 17, '1': 18, '2': 19, '3': 20, '4': 21, '6': 22, '5': 23, '=': 24, '9': 25, '7': 26,
  '-': 27, '8': 28, '0': 29, ']': 30, o: 31, u: 32, '[': 33, i: 34, p: 35, return: 36, l: 37,
  j: 38, "'": 39, k: 40, ';': 41, '\\': 42, ',': 43, '/': 44, n: 45, m: 46, '.': 47, tab: 48,
  space: 49, '`': 50, backspace: 51, escape: 53,
  f5: 96, f6: 97, f7: 98, f3: 99, f8: 100, f9: 101, f11: 103, f10: 109, f12: 111,
  home: 115, pageup: 116, delete: 117, f4: 118, end: 119, f2: 120, pagedown: 121, f1: 122,
  left: 123, right: 124, down: 125, up: 126,
};

/** @type {Record<string, number>} */
export const MODIFIER_FLAGS = {
  shift: 0x20000,
  control: 0x40000,
  alt: 0x80000,
  super: 0x100000,
};

/**
 * The key code for a key name (case-insensitive; "enter" and "esc" are accepted too), or null.
 * @param {string} name
 */
export function keyCodeOf(name) {
  const key = name.toLowerCase();
  const aliases = { enter: 'return', esc: 'escape', del: 'delete' };
  const code = KEY_CODES[aliases[key] ?? key];
  return code === undefined ? null : code;
}

/**
 * The flags for a list of modifier names, or the first name that is not one.
 * @param {string[]} names
 * @returns {{ flags: number } | { unknown: string }}
 */
export function modifierFlags(names) {
  let flags = 0;
  for (const name of names) {
    const bit = MODIFIER_FLAGS[String(name).toLowerCase()];
    if (bit === undefined) return { unknown: String(name) };
    flags |= bit;
  }
  return { flags };
}
