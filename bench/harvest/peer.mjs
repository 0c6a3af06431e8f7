// The real-browser peer of the harvest benchmark: Debian's chromium driven by playwright-core loads
// each address in turn in one page and collects the document's links, images and embeds in one
// evaluate, then prints the records as `nepirika harvest` does ("kind<TAB>url", exact duplicates of
// the same kind skipped across the whole run; failures on stderr; exit 0 when every page loaded,
// 1 otherwise).
//
//   node peer.mjs [--block=route|flag|none] [--timeout=MS] [--no-scripts] [ADDRESS...]
//   (no address: read stdin)
//
// --no-scripts runs the pages with JavaScript turned off (playwright's javaScriptEnabled: false,
// Blink's script setting): what a browser with scripts disabled shows, for comparison with
// `nepirika harvest --no-scripts`.
//
// --block chooses how the peer avoids what ネピリカ does not load either:
//   flag   (default) the same Blink settings as ネピリカ's hidden page: images are not loaded
//          (--blink-settings=loadsImagesAutomatically=false, what Qt's AutoLoadImages=false sets)
//          and media do not play without a user gesture; no request routing;
//   route  aborts image, media and font requests through playwright's request routing (each
//          request of the page then makes a round trip to this script);
//   none   loads everything.
import { chromium } from 'playwright-core';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const options = { block: 'flag', timeout: 30000, executable: '/usr/bin/chromium', scripts: true };
const addresses = [];
for (const arg of process.argv.slice(2)) {
    const m = /^--(block|timeout|executable)=(.*)$/.exec(arg);
    if (m) options[m[1]] = m[1] === 'timeout' ? Number(m[2]) : m[2];
    else if (arg === '--no-scripts') options.scripts = false;
    else if (arg.startsWith('--')) {
        process.stderr.write(
            `usage: node peer.mjs [--block=route|flag|none] [--timeout=MS] [--no-scripts] [ADDRESS...]\n`);
        process.exit(2);
    } else addresses.push(arg);
}
if (addresses.length === 0) {
    for (const line of readFileSync(0, 'utf8').split(/\r\n|\r|\n/)) {
        const address = line.trim();
        if (address) addresses.push(address);
    }
}

// Runs in the page: every address of the document in one call.
function collect() {
    const withSrc = (list) => Array.from(list, (e) => {
        const attr = e.getAttribute('src');
        return attr && attr.trim() ? e.src : '';
    }).filter((s) => s);
    return {
        location: document.location.href,
        links: Array.from(document.links, (a) => a.href),
        images: withSrc(document.images),
        embeds: withSrc(document.embeds),
    };
}

function withTimeout(promise, ms, what) {
    let timer;
    const bound = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`${what} did not answer within ${ms} ms`)), ms);
    });
    return Promise.race([promise, bound]).finally(() => clearTimeout(timer));
}

const seen = new Set();
let out = [];
function add(kind, url) {
    const key = kind + '\t' + url;
    if (seen.has(key)) return;
    seen.add(key);
    out.push(key);
}

const args = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];
if (options.block === 'flag')
    args.push('--blink-settings=loadsImagesAutomatically=false', '--autoplay-policy=user-gesture-required');

const userDataDir = mkdtempSync(join(tmpdir(), 'nepirika-peer-'));
let failures = 0;
let context;
try {
    context = await chromium.launchPersistentContext(userDataDir, {
        executablePath: options.executable,
        headless: true,
        args,
        acceptDownloads: false,
        serviceWorkers: 'block',
        javaScriptEnabled: options.scripts,
        // The window that ネピリカ's hidden pages are laid out in.
        viewport: { width: 1280, height: 720 },
    });
    if (options.block === 'route') {
        const blocked = new Set(['image', 'media', 'font']);
        await context.route('**/*', (route) => {
            if (blocked.has(route.request().resourceType())) return route.abort('blockedbyclient');
            return route.fallback();
        });
    }
    const page = context.pages()[0] ?? (await context.newPage());
    page.on('dialog', (dialog) => dialog.dismiss().catch(() => {}));

    for (const address of addresses) {
        const url = /^[a-zA-Z][a-zA-Z0-9+.-]*:/.test(address) ? address : 'http://' + address;
        let response = null;
        try {
            response = await page.goto(url, { waitUntil: 'load', timeout: options.timeout });
        } catch (e) {
            if (e.name !== 'TimeoutError') {
                failures++;
                process.stderr.write(`${address}\t${e.message.split('\n')[0]}\n`);
                continue;
            }
            // Not complete within the bound: stop it and harvest the document as it stands.
            await page.evaluate(() => window.stop()).catch(() => {});
        }
        if (response && response.status() >= 400) {
            failures++;
            process.stderr.write(`${address}\tHTTP ${response.status()}\n`);
            continue;
        }
        let found = null;
        let reason = '';
        // A page that navigates itself away destroys the context of the first evaluate: collect
        // again from the document it went to.
        for (let attempt = 0; attempt < 3 && !found; attempt++) {
            try {
                found = await withTimeout(page.evaluate(collect), 5000, 'the page');
            } catch (e) {
                reason = e.message.split('\n')[0];
                await page.waitForLoadState('load', { timeout: options.timeout }).catch(() => {});
            }
        }
        if (!found) {
            failures++;
            process.stderr.write(`${address}\t${reason}\n`);
            continue;
        }
        if (found.location.startsWith('chrome-error:')) {
            // The page sent itself to an address that failed (on loopback: its https: twin).
            failures++;
            process.stderr.write(`${address}\tthe page went on to an address that failed to load\n`);
            continue;
        }
        for (const href of found.links) {
            const scheme = href.slice(0, href.indexOf(':') + 1).toLowerCase();
            if (scheme === 'mailto:') continue;
            add(scheme === 'javascript:' ? 'script' : 'page', href);
        }
        for (const src of found.images) add('image', src);
        for (const src of found.embeds) add('embed', src);
        if (out.length) {
            process.stdout.write(out.join('\n') + '\n');
            out = [];
        }
    }
} catch (e) {
    process.stderr.write(`peer: ${e.message}\n`);
    failures = failures || 1;
} finally {
    if (context) await context.close().catch(() => {});
    rmSync(userDataDir, { recursive: true, force: true });
}
process.exitCode = failures ? 1 : 0;
