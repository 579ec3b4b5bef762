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

// The canvas as the page shows it, brought back to surface pixels: from a
// screenshot of scale x scale device pixels per surface pixel, each block's
// middle pixel, and mixed, the number of blocks not of one colour (0 when
// the canvas is shown crisp).
export async function shownPicture(page, scale) {
  const png = (await page.locator('#canvas').screenshot()).toString('base64');
  const { text, mixed } = await page.evaluate(async ({ png, scale, width, height }) => {
    const image = new Image();
    image.src = `data:image/png;base64,${png}`;
    await image.decode();
    const canvas = document.createElement('canvas');
    [canvas.width, canvas.height] = [width * scale, height * scale];
    canvas.getContext('2d').drawImage(image, 0, 0);
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const at = (x, y) => 4 * (y * canvas.width + x);
    const parts = [];
    let mixed = 0;
    for (let y = 0; y < height; y++)
      for (let x = 0; x < width; x++) {
        const middle = at(x * scale + (scale >> 1), y * scale + (scale >> 1));
        parts.push(String.fromCharCode(...data.subarray(middle, middle + 3)));
        let same = true;
        for (let i = 0; i < scale * scale && same; i++) {
          const p = at(x * scale + (i % scale), y * scale + Math.floor(i / scale));
          same = data[p] === data[middle] && data[p + 1] === data[middle + 1] && data[p + 2] === data[middle + 2];
        }
        mixed += same ? 0 : 1;
      }
    return { text: btoa(parts.join('')), mixed };
  }, { png, scale, width: WIDTH, height: HEIGHT });
  return { picture: Buffer.from(text, 'base64'), mixed };
}

function is(picture, index, colour) {
  return picture[3 * index] === colour[0] && picture[3 * index + 1] === colour[1] &&
    picture[3 * index + 2] === colour[2];
}

export function isGreen(picture, x, y) {
  return is(picture, y * WIDTH + x, GREEN);
}

export function isWhite(picture, x, y) {
  return is(picture, y * WIDTH + x, WHITE);
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
