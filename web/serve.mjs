// web/serve.mjs: serves a folder (the page's site folder) on 127.0.0.1,
// nothing else, with the types a browser needs for WebAssembly.
//
//   node web/serve.mjs FOLDER [PORT]     PORT 0 picks a free one
//
// Prints "Serving FOLDER on http://127.0.0.1:PORT/" once it listens; a port
// in use or a folder that is not there gives one line and exit status 1.
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.json': 'application/json', '.png': 'image/png', '.ogg': 'audio/ogg', '.txt': 'text/plain',
};

// The file a request names inside `root`, or an HTTP status: 400 for a path
// that does not decode, 403 for one that leaves the folder.
export function fileFor(root, requestUrl) {
  let name;
  try {
    const url = new URL(requestUrl, 'http://127.0.0.1');
    name = decodeURIComponent(url.pathname === '/' ? '/index.html' : url.pathname);
  } catch {
    return 400;
  }
  const file = path.join(root, name);
  return file.startsWith(root + path.sep) ? file : 403;
}

export function serve(folder, port = 0) {
  const root = path.resolve(folder);
  const server = http.createServer((request, response) => {
    const file = fileFor(root, request.url);
    if (typeof file === 'number') {
      response.writeHead(file, { 'Content-Type': 'text/plain' }).end(http.STATUS_CODES[file]);
      return;
    }
    fs.stat(file, (error, stat) => {
      if (error || !stat.isFile()) {
        response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found');
        return;
      }
      response.writeHead(200, {
        'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream',
        'Content-Length': stat.size,
        'Cache-Control': 'no-store',
      });
      fs.createReadStream(file).on('error', () => response.destroy()).pipe(response);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => resolve(server));
  });
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const folder = process.argv[2] || 'build-web/site';
  if (!fs.existsSync(path.join(folder, 'index.html'))) {
    console.error(`serve: ${folder} holds no index.html; build the page first (scripts/web.sh --build)`);
    process.exit(1);
  }
  const port = Number(process.argv[3] ?? 8000);
  try {
    const server = await serve(folder, port);
    console.log(`Serving ${folder} on http://127.0.0.1:${server.address().port}/`);
  } catch (error) {
    const why = error.code === 'EADDRINUSE' ? `port ${port} is in use (another server?); choose another with PORT=`
                                            : error.message;
    console.error(`serve: cannot serve ${folder} on 127.0.0.1:${port}: ${why}`);
    process.exit(1);
  }
}
