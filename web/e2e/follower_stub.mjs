// A stand-in for the program's follower server, for trying the follower page
// in a browser without the core: the built page at /f/TOKEN/ (its policy
// opened for this host's images and WebSocket, as the program serves it),
// page images as drawn SVG, and one WebSocket per screen at /f/TOKEN/ws that
// answers hello with the script and the run and ping with pong.
//   const stub = await startFollowerStub(pagePath, { token, script, run });
//   stub.push({ type: 'run', ... }); stub.dropAll(); await stub.close();

import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';

const wsGuid = '258EAFA5-E914-47DA-95CA-C5AB0DC85B11';

// The page's own policy forbids all network; the program's server opens
// exactly this much of it for its follower page.
export function followerPolicy(html) {
  return html
    .replace("connect-src 'none'", "connect-src 'self'")
    .replace('img-src data: blob: tallowmark-page:', "img-src 'self' data: blob:");
}

function frame(text) {
  const body = Buffer.from(text, 'utf8');
  const n = body.length;
  const head = n < 126 ? Buffer.from([0x81, n]) : n < 65536 ? Buffer.from([0x81, 126, n >> 8, n & 255]) : null;
  if (head) return Buffer.concat([head, body]);
  const big = Buffer.alloc(10);
  big[0] = 0x81;
  big[1] = 127;
  big.writeBigUInt64BE(BigInt(n), 2);
  return Buffer.concat([big, body]);
}

// Client frames are masked; only unfragmented text and close are expected here.
function* readFrames(buffer) {
  let at = 0;
  while (buffer.length - at >= 6) {
    const op = buffer[at] & 15;
    let n = buffer[at + 1] & 127;
    let head = 2;
    if (n === 126) [n, head] = [buffer.readUInt16BE(at + 2), 4];
    else if (n === 127) [n, head] = [Number(buffer.readBigUInt64BE(at + 2)), 10];
    if (buffer.length - at < head + 4 + n) break;
    const mask = buffer.subarray(at + head, at + head + 4);
    const body = Buffer.from(buffer.subarray(at + head + 4, at + head + 4 + n));
    for (let i = 0; i < body.length; i++) body[i] ^= mask[i & 3];
    at += head + 4 + n;
    yield { op, text: body.toString('utf8'), used: at };
  }
}

function pageSvg(index, width, aspect = 0.707) {
  const w = 1000;
  const h = Math.round(w / aspect);
  const lines = [];
  for (let y = 90; y < h - 80; y += 34) {
    const len = 500 + ((y * 37 + index * 101) % 330);
    lines.push(`<rect x="100" y="${y}" width="${len}" height="12" rx="3" fill="#333"/>`);
  }
  return `<svg xmlns="http://www.w3.org/2000/svg" width="${width}" height="${Math.round(width / aspect)}" viewBox="0 0 ${w} ${h}">` +
    `<rect width="100%" height="100%" fill="#fff"/><text x="100" y="60" font-size="28" font-family="sans-serif">Page ${index + 1}</text>` +
    `${lines.join('')}</svg>`;
}

export function startFollowerStub(pagePath, { token, script, run, port = 0 }) {
  const page = followerPolicy(readFileSync(pagePath, 'utf8'));
  const sockets = new Set();
  const state = { script, run, images: [], received: [], answerPings: true };
  const server = createServer((req, res) => {
    const url = new URL(req.url, 'http://stub');
    if (url.pathname === `/f/${token}/`) {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
      return res.end(page);
    }
    const m = new RegExp(`^/f/${token}/page/(\\d+)/(\\d+)$`).exec(url.pathname);
    if (m) {
      state.images.push([Number(m[1]), Number(m[2])]);
      res.writeHead(200, { 'Content-Type': 'image/svg+xml' });
      return res.end(pageSvg(Number(m[1]), Number(m[2]), state.script.document.aspects[Number(m[1])]));
    }
    res.writeHead(403);
    res.end();
  });
  server.on('upgrade', (req, socket) => {
    if (req.url !== `/f/${token}/ws`) return socket.destroy();
    const accept = createHash('sha1').update(req.headers['sec-websocket-key'] + wsGuid).digest('base64');
    socket.write(`HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
    sockets.add(socket);
    let pending = Buffer.alloc(0);
    socket.on('data', (chunk) => {
      pending = Buffer.concat([pending, chunk]);
      let used = 0;
      for (const f of readFrames(pending)) {
        used = f.used;
        if (f.op === 8) return socket.destroy();
        if (f.op !== 1) continue;
        state.received.push(f.text);
        const type = JSON.parse(f.text).type;
        if (type === 'hello') {
          socket.write(frame(JSON.stringify(state.script)));
          socket.write(frame(JSON.stringify(state.run)));
        } else if (type === 'ping' && state.answerPings) socket.write(frame('{"type":"pong"}'));
      }
      pending = pending.subarray(used);
    });
    socket.on('close', () => sockets.delete(socket));
    socket.on('error', () => sockets.delete(socket));
  });
  return new Promise((resolve) => {
    server.listen(port, '127.0.0.1', () => {
      resolve({
        port: server.address().port,
        state,
        screens: () => sockets.size,
        push(message) {
          if (message.type === 'script') state.script = message;
          if (message.type === 'run') state.run = message;
          for (const s of sockets) s.write(frame(JSON.stringify(message)));
        },
        dropAll() {
          for (const s of sockets) s.destroy();
          sockets.clear();
        },
        close: () => new Promise((done) => {
          for (const s of sockets) s.destroy();
          server.close(done);
        }),
      });
    });
  });
}
