// trees.mjs: the build trees, as CMakePresets.json names them, for the page's
// tools and tests.
//
// tree(preset)                 the absolute folder of a configure preset
// built(preset, file, target)  the path of file in that tree; throws, naming
//                              the make target that builds it, when it is missing
import { existsSync, readFileSync } from 'node:fs';
import { dirname, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const PRESETS = JSON.parse(readFileSync(join(ROOT, 'CMakePresets.json'), 'utf8')).configurePresets;

export function tree(preset) {
  const found = PRESETS.find((p) => p.name === preset);
  if (!found)
    throw new Error(`CMakePresets.json has no configure preset ${preset}`);
  return resolve(found.binaryDir.replace('${sourceDir}', ROOT));
}

export function built(preset, file, target) {
  const path = join(tree(preset), file);
  if (!existsSync(path))
    throw new Error(`no ${relative(ROOT, path)}: build it first with ${target}`);
  return path;
}
