// picture.mjs: reading and comparing 200 x 300 pictures of the toy.
//
// A picture is a Buffer of 8-bit R, G, B per pixel, rows from the top,
// columns from the left, as ImageMagick's `rgb:` format and the canvas
// reader below give it.
export const WIDTH = 200;
export const HEIGHT = 300;
const GREEN = [0, 255, 0];
const WHITE = [255, 255, 255];

// The canvas's pixels, alpha dropped.
export async function canvasPicture(page) {
  const text = await page.evaluate(() => {
    const canvas = document.getElementById('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const parts = [];
    for (let i = 0; i < data.length; i += 4)
      parts.push(String.fromCharCode(data[i], data[i + 1], data[i + 2]));
    return btoa(parts.join(''));
  });
  return Buffer.from(text, 'base64');
}

// Pixels where the canvas as the page shows it (the canvas's box, given in
// CSS pixels, cut from a screenshot of the viewport: an engine's own
// screenshot of a scaled element may come back short) differs from its own
// picture drawn as large, unsmoothed: 0 when it is shown crisp at its scale.
export async function shownDifferences(page, box) {
  const png = (await page.screenshot()).toString('base64');
  return page.evaluate(async ({ png, box }) => {
    // Decoded from bytes, not a data: address, which the page's policy refuses.
    const bytes = Uint8Array.from(atob(png), (c) => c.charCodeAt(0));
    const shown = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
    const canvas = document.getElementById('canvas');
    const ratio = devicePixelRatio;
    const [width, height] = [Math.round(box.width * ratio), Math.round(box.height * ratio)];
    const pixels = (draw) => {
      const c = Object.assign(document.createElement('canvas'), { width, height });
      const context = c.getContext('2d');
      context.imageSmoothingEnabled = false;
      draw(context);
      return context.getImageData(0, 0, width, height).data;
    };
    const a = pixels((c) => c.drawImage(shown, -Math.round(box.x * ratio), -Math.round(box.y * ratio)));
    const b = pixels((c) => c.drawImage(canvas, 0, 0, width, height));
    return a.filter((v, i) => i % 4 === 0 && (v !== b[i] || a[i + 1] !== b[i + 1] || a[i + 2] !== b[i + 2])).length;
  }, { png, box });
}

function is(picture, index, colour) {
  return picture[3 * index] === colour[0] && picture[3 * index + 1] === colour[1] &&
    picture[3 * index + 2] === colour[2];
}

// Pixels of the given colour in the picture, or in columns x0..x1 and rows y0..y1.
function count(picture, colour, x0 = 0, y0 = 0, x1 = WIDTH - 1, y1 = HEIGHT - 1) {
  let n = 0;
  for (let y = Math.max(y0, 0); y <= Math.min(y1, HEIGHT - 1); y++)
    for (let x = Math.max(x0, 0); x <= Math.min(x1, WIDTH - 1); x++)
      if (is(picture, y * WIDTH + x, colour))
        n++;
  return n;
}

export function greenCount(picture, x0, y0, x1, y1) {
  return count(picture, GREEN, x0, y0, x1, y1);
}

export function whiteCount(picture, x0, y0, x1, y1) {
  return count(picture, WHITE, x0, y0, x1, y1);
}

// Where two pictures differ, outside the boxes [x0, y0, x1, y1] (inclusive)
// given: the number of pixels and the first few, as text.
export function differences(a, b, masks = []) {
  if (a.length !== b.length)
    return { count: Infinity, text: `sizes differ: ${a.length} and ${b.length} bytes` };
  let n = 0;
  const shown = [];
  for (let i = 0; i < a.length / 3; i++) {
    const x = i % WIDTH;
    const y = Math.floor(i / WIDTH);
    if (masks.some(([x0, y0, x1, y1]) => x >= x0 && x <= x1 && y >= y0 && y <= y1))
      continue;
    if (a[3 * i] !== b[3 * i] || a[3 * i + 1] !== b[3 * i + 1] || a[3 * i + 2] !== b[3 * i + 2]) {
      if (shown.length < 8)
        shown.push(`(${x}, ${y}): ` +
          `${[...a.subarray(3 * i, 3 * i + 3)]} vs ${[...b.subarray(3 * i, 3 * i + 3)]}`);
      n++;
    }
  }
  return { count: n, text: `${n} pixels differ, first ${shown.join('; ')}` };
}
