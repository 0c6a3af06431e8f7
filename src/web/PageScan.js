// Collects every address that a document offers, in the application's own script world (the page's
// scripts can neither see nor replace what it uses). Installed in every frame when the frame's
// document is created; reads only, the page is left as it is.
//
// The top frame's collection walks its document, its open shadow roots and its same-origin frames
// directly. A cross-origin frame is asked through a message channel of its own, carrying the key
// that only this world knows; the frame walks itself (and its own frames) and answers on the
// channel, which the page's scripts cannot read. A frame whose collector never announced itself
// (an error page, a frame without scripts) is not waited for.
(function () {
    'use strict';
    if (window.__nepirikaScan)
        return;
    var KEY = '__NEPIRIKA_KEY__';
    var HTML_NS = 'http://www.w3.org/1999/xhtml';
    var SVG_NS = 'http://www.w3.org/2000/svg';
    var XLINK_NS = 'http://www.w3.org/1999/xlink';
    // What the common lazy loaders keep the real address in, on <img> and <source>.
    var LAZY = ['data-src', 'data-srcset', 'data-original', 'data-original-set', 'data-lazy-src',
                'data-lazy-srcset', 'data-pagespeed-lazy-src', 'data-hi-res-src'];
    var LAZY_SETS = { 'data-srcset': true, 'data-original-set': true, 'data-lazy-srcset': true };
    // The page's declared share images.
    var SHARE = { 'og:image': true, 'og:image:url': true, 'og:image:secure_url': true,
                  'twitter:image': true, 'twitter:image:src': true };
    var STYLE_URL = /url\(\s*(?:"((?:[^"\\]|\\[\s\S])*)"|'((?:[^'\\]|\\[\s\S])*)'|((?:[^\s"'()\\]|\\[\s\S])*))\s*\)/gi;
    var SCHEME = /^[a-zA-Z][a-zA-Z0-9+.\-]*:/;
    // The vias of the lazy attributes, made once: most addresses of a page share a few vias.
    var LAZY_VIAS = { img: LAZY.map(function (a) { return 'img@' + a; }),
                      source: LAZY.map(function (a) { return 'source@' + a; }) };
    // Child windows whose collector has announced itself.
    var ready = new Set();
    // Collections still waiting for frames, by ticket.
    var waiting = {};
    var tickets = 0;

    function isSpace(c) {
        return c === ' ' || c === '\t' || c === '\n' || c === '\r' || c === '\f';
    }

    // The URLs of a srcset value, by the HTML rules: a candidate's URL runs to the next white space
    // (a comma inside it stays), trailing commas end it, and its descriptors run to the next comma
    // outside parentheses.
    function srcsetUrls(s) {
        var out = [], i = 0, n = s.length;
        while (i < n) {
            while (i < n && (isSpace(s[i]) || s[i] === ','))
                ++i;
            if (i >= n)
                break;
            var start = i;
            while (i < n && !isSpace(s[i]))
                ++i;
            var url = s.slice(start, i);
            if (url.charAt(url.length - 1) === ',') {
                url = url.replace(/,+$/, '');
            } else {
                for (var depth = 0; i < n; ++i) {
                    var c = s[i];
                    if (c === '(') {
                        ++depth;
                    } else if (c === ')') {
                        if (depth)
                            --depth;
                    } else if (c === ',' && !depth) {
                        ++i;
                        break;
                    }
                }
            }
            if (url)
                out.push(url);
        }
        return out;
    }

    function cssUnescape(v) {
        return v.replace(/\\([0-9a-fA-F]{1,6})[ \t\n]?|\\([\s\S])/g, function (m, hex, ch) {
            if (hex) {
                var code = parseInt(hex, 16);
                return String.fromCodePoint(code > 0 && code <= 0x10FFFF ? code : 0xFFFD);
            }
            return ch === '\n' ? '' : ch;
        });
    }

    // A lazy loader's attribute holds an address, not a flag or a template ("true", "lazy", "#").
    function looksLikeAddress(v) {
        if (!v || v.charAt(0) === '#' || /^(about|javascript):/i.test(v))
            return false;
        if (v.indexOf('{{') >= 0 || v.indexOf('${') >= 0 || v.indexOf('<%') >= 0)
            return false;
        return /[.\/:?=]/.test(v);
    }

    function text(v) {
        if (typeof v === 'string')
            return v;
        if (v && typeof v.baseVal === 'string')
            return v.baseVal;
        return v === null || v === undefined ? '' : String(v);
    }

    function charsetOf(doc) {
        try {
            return String(doc.characterSet || '');
        } catch (x) {
            return '';
        }
    }

    // The encoding of the document that each address of a group was found in, as runs over the
    // group: [count, charset, count, charset...]. Adds count addresses of charset.
    function addRun(runs, count, charset) {
        var n = runs.length;
        if (count <= 0)
            return runs;
        if (n >= 2 && runs[n - 1] === charset)
            runs[n - 2] += count;
        else
            runs.push(count, charset);
        return runs;
    }

    // One document's walk: links, images and embeds as flat lists of (address, via) pairs.
    function Scan(doc, limit, readySet) {
        this.doc = doc;
        this.limit = limit;
        this.ready = readySet;
        this.count = 0;
        this.full = false;
        this.links = [];
        this.images = [];
        this.embeds = [];
        this.frames = [];
        this.anchor = null;
        this.charset = charsetOf(doc);
        // A document parsed without a browsing context: its parser attached no shadow roots.
        this.inert = false;
    }

    Scan.prototype.add = function (group, url, via) {
        if (this.count >= this.limit) {
            this.full = true;
            return;
        }
        ++this.count;
        group.push(url, via);
    };

    // An address as written, resolved as the document resolves its links (its base and encoding).
    Scan.prototype.resolve = function (v) {
        if (!this.anchor)
            this.anchor = this.doc.createElementNS(HTML_NS, 'a');
        this.anchor.setAttribute('href', v);
        var r = this.anchor.href;
        return SCHEME.test(r) ? r : '';
    };

    // An attribute that the element resolves itself (img.src, video.poster …), when present.
    Scan.prototype.own = function (group, e, attr, via) {
        var v = e.getAttribute(attr);
        if (v === null || v.trim() === '')
            return;
        var r = text(e[attr]);
        if (r)
            this.add(group, r, via);
    };

    Scan.prototype.named = function (group, v, via, lazy) {
        if (v === null || v === undefined)
            return;
        v = v.trim();
        if (!v || (lazy && !looksLikeAddress(v)))
            return;
        var r = this.resolve(v);
        if (r)
            this.add(group, r, via);
    };

    Scan.prototype.srcset = function (v, via, lazy) {
        if (v === null)
            return;
        var urls = srcsetUrls(v);
        for (var i = 0; i < urls.length; ++i)
            this.named(this.images, urls[i], via, lazy);
    };

    function at(prefix, via) {
        return prefix ? prefix + via : via;
    }

    Scan.prototype.lazy = function (e, prefix, name) {
        for (var k = 0; k < LAZY.length; ++k) {
            var v = e.getAttribute(LAZY[k]);
            if (v === null)
                continue;
            var via = at(prefix, LAZY_VIAS[name][k]);
            if (LAZY_SETS[LAZY[k]])
                this.srcset(v, via, true);
            else
                this.named(this.images, v, via, true);
        }
    };

    Scan.prototype.styles = function (style, via) {
        if (!/url\(/i.test(style))
            return;
        STYLE_URL.lastIndex = 0;
        var m;
        while ((m = STYLE_URL.exec(style)) !== null) {
            var v = m[1] !== undefined ? m[1] : (m[2] !== undefined ? m[2] : m[3]);
            this.named(this.images, cssUnescape(v || ''), via, false);
        }
    };

    // The elements of a document or shadow root in document order; a shadow root's content comes
    // right after its host.
    Scan.prototype.walk = function (root, prefix) {
        var all = root.querySelectorAll('*');
        for (var i = 0, n = all.length; i < n && !this.full; ++i) {
            var e = all[i], name = e.localName, ns = e.namespaceURI;
            if (ns === HTML_NS) {
                switch (name) {
                case 'a':
                    if (e.hasAttribute('href'))
                        this.add(this.links, text(e.href), at(prefix, 'a@href'));
                    break;
                case 'area':
                    if (e.hasAttribute('href'))
                        this.add(this.links, text(e.href), at(prefix, 'area@href'));
                    break;
                case 'img':
                    this.own(this.images, e, 'src', at(prefix, 'img@src'));
                    this.srcset(e.getAttribute('srcset'), at(prefix, 'img@srcset'), false);
                    this.lazy(e, prefix, 'img');
                    break;
                case 'source':
                    var parent = e.parentElement ? e.parentElement.localName : '';
                    if (parent === 'picture') {
                        this.srcset(e.getAttribute('srcset'), prefix + 'source@srcset', false);
                        this.lazy(e, prefix, 'source');
                    } else if (parent === 'video' || parent === 'audio') {
                        this.own(this.embeds, e, 'src', prefix + 'source@src');
                    }
                    break;
                case 'input':
                    if ((e.getAttribute('type') || '').trim().toLowerCase() === 'image')
                        this.own(this.images, e, 'src', prefix + 'input@src');
                    break;
                case 'video':
                    this.own(this.images, e, 'poster', prefix + 'video@poster');
                    this.own(this.embeds, e, 'src', prefix + 'video@src');
                    break;
                case 'audio':
                case 'track':
                case 'embed':
                    this.own(this.embeds, e, 'src', prefix + name + '@src');
                    break;
                case 'object':
                    this.own(this.embeds, e, 'data', prefix + 'object@data');
                    break;
                case 'meta':
                    var key = (e.getAttribute('property') || e.getAttribute('name') || '').trim().toLowerCase();
                    if (SHARE[key] === true)
                        this.named(this.images, e.getAttribute('content'), prefix + 'meta@content', false);
                    break;
                case 'iframe':
                case 'frame':
                    var src = e.getAttribute('src');
                    if (src !== null && src.trim() !== '' && !/^about:/i.test(text(e.src)))
                        this.add(this.links, text(e.src), prefix + name + '@src');
                    this.frames.push({ element: e, prefix: prefix + 'frame>' });
                    break;
                }
            } else if (ns === SVG_NS && name === 'image') {
                var href = e.getAttribute('href');
                if (href === null)
                    href = e.getAttributeNS(XLINK_NS, 'href');
                this.named(this.images, href, prefix + 'image@href', false);
            }
            if (e.hasAttribute('style'))
                this.styles(e.getAttribute('style'), prefix + name + '@style');
            var shadow = e.shadowRoot || (this.inert ? declaredShadow(e, this.doc) : null);
            if (shadow)
                this.walk(shadow, prefix + 'shadow>');
        }
    };

    // The open shadow root that the parser of a page attaches from <template shadowroot="open">, in
    // a document whose parser did not attach it; its content taken into the document, so that its
    // addresses resolve against the document's base.
    function declaredShadow(host, doc) {
        for (var c = host.firstElementChild; c; c = c.nextElementSibling) {
            if (c.localName === 'template' && c.namespaceURI === HTML_NS && c.hasAttribute('shadowroot'))
                return c.getAttribute('shadowroot').toLowerCase() === 'open' ? doc.importNode(c.content, true) : null;
        }
        return null;
    }

    // The engine's own page for a frame that failed to load holds nothing of the page's.
    function isErrorPage(doc) {
        try {
            return /^chrome-error:/i.test(String(doc.URL)) || /^chrome-error:/i.test(String(doc.location.href));
        } catch (x) {
            return false;
        }
    }

    // Walks the document, then its frames; done gets the whole tree's findings (at once when no
    // frame has to be asked, or when the deadline passes for frames that have not answered).
    Scan.prototype.run = function (deadline, done) {
        if (isErrorPage(this.doc)) {
            done({ links: [], images: [], embeds: [], full: false });
            return;
        }
        this.walk(this.doc, '');
        var self = this, frames = this.frames, parts = [], open = 1, ended = false;
        function end() {
            if (ended)
                return;
            ended = true;
            done(self.merge(parts));
        }
        function settle() {
            if (--open === 0)
                end();
        }
        for (var i = 0; i < frames.length && !this.full; ++i) {
            var f = frames[i], w = null, d = null;
            try {
                w = f.element.contentWindow;
                d = f.element.contentDocument;
            } catch (x) {
            }
            if (!w)
                continue;
            var part = { prefix: f.prefix, found: null };
            parts.push(part);
            var left = Math.max(0, this.limit - this.count);
            if (d) {
                // Same origin, a document written by script included: walked from here, with
                // what its own collector knows of its frames.
                var theirs = null;
                try {
                    theirs = w.__nepirikaScan;
                } catch (x) {
                }
                ++open;
                new Scan(d, left, theirs ? theirs.ready : null).run(deadline, (function (p) {
                    return function (found) {
                        p.found = found;
                        settle();
                    };
                })(part));
            } else if (this.ready && this.ready.has(w)) {
                ++open;
                ask(w, left, deadline - 50, (function (p) {
                    return function (found) {
                        p.found = found;
                        settle();
                    };
                })(part));
            }
        }
        if (--open === 0)
            end();
        else
            setTimeout(end, Math.max(0, deadline - Date.now()));
    };

    // The document's own findings, then each frame's in document order, up to the limit.
    Scan.prototype.merge = function (parts) {
        var out = { links: this.links, images: this.images, embeds: this.embeds, full: this.full, charsets: {} };
        var count = this.count, groups = ['links', 'images', 'embeds'];
        for (var k = 0; k < groups.length; ++k)
            out.charsets[groups[k]] = addRun([], out[groups[k]].length / 2, this.charset);
        for (var i = 0; i < parts.length; ++i) {
            var found = parts[i].found;
            if (!found || typeof found !== 'object')
                continue;
            if (found.full === true)
                out.full = true;
            for (var g = 0; g < groups.length; ++g) {
                var from = found[groups[g]], to = out[groups[g]];
                if (!Array.isArray(from))
                    continue;
                var runs = found.charsets && Array.isArray(found.charsets[groups[g]]) ? found.charsets[groups[g]] : [];
                var r = 0, runEnd = 0, charset = '';
                for (var j = 0; j + 1 < from.length; j += 2) {
                    for (; j / 2 >= runEnd && r + 1 < runs.length; r += 2) {
                        runEnd += Number(runs[r]) || 0;
                        charset = String(runs[r + 1]);
                    }
                    if (typeof from[j] !== 'string' || typeof from[j + 1] !== 'string')
                        continue;
                    if (count >= this.limit) {
                        out.full = true;
                        break;
                    }
                    to.push(from[j], parts[i].prefix + from[j + 1]);
                    addRun(out.charsets[groups[g]], 1, charset);
                    ++count;
                }
            }
        }
        return out;
    };

    function ask(w, limit, deadline, done) {
        var channel = new MessageChannel(), answered = false;
        channel.port1.onmessage = function (ev) {
            if (answered)
                return;
            answered = true;
            channel.port1.close();
            done(ev.data);
        };
        try {
            w.postMessage({ nepirikaScan: KEY, limit: limit, deadline: deadline }, '*', [channel.port2]);
        } catch (x) {
            answered = true;
            done(null);
        }
    }

    // Registered before any script of the page: the page never sees these messages.
    window.addEventListener('message', function (ev) {
        var d = ev.data;
        if (!d || typeof d !== 'object')
            return;
        if ((d.nepirikaReady === 1 || d.nepirikaReady === 0) && ev.source && ev.source !== window) {
            ev.stopImmediatePropagation();
            if (d.nepirikaReady === 1)
                ready.add(ev.source);
            else
                ready.delete(ev.source);
        } else if (d.nepirikaScan === KEY) {
            ev.stopImmediatePropagation();
            var port = ev.ports && ev.ports[0];
            if (!port || (ev.source !== window.parent && ev.source !== window.top))
                return;
            var limit = typeof d.limit === 'number' ? d.limit : 0;
            var deadline = typeof d.deadline === 'number' ? d.deadline : Date.now();
            new Scan(document, limit, ready).run(deadline, function (found) {
                port.postMessage(found);
                port.close();
            });
        }
    }, true);

    function encode(found, generation, location) {
        var vias = [], index = new Map();
        // Each address's via as one character of a string (an index into vias): far less for the
        // program to read than a number per address.
        function split(list) {
            var urls = new Array(list.length / 2), codes = new Array(list.length / 2);
            for (var i = 0, k = 0; i + 1 < list.length; i += 2, ++k) {
                var via = list[i + 1], n = index.get(via);
                if (n === undefined) {
                    n = vias.length < 50000 ? vias.length : -1;
                    if (n >= 0) {
                        vias.push(via);
                        index.set(via, n);
                    }
                }
                urls[k] = list[i];
                codes[k] = 0x30 + (n < 0 ? 0 : n);
            }
            var s = '';
            for (var j = 0; j < codes.length; j += 8192)
                s += String.fromCharCode.apply(null, codes.slice(j, j + 8192));
            return { urls: urls, codes: s };
        }
        var l = split(found.links), im = split(found.images), em = split(found.embeds);
        return JSON.stringify({
            location: location === undefined ? String(document.URL) : location,
            generation: generation,
            vias: vias,
            links: l.urls, linkVias: l.codes,
            images: im.urls, imageVias: im.codes,
            embeds: em.urls, embedVias: em.codes,
            charsets: found.charsets || {},
            truncated: found.full === true
        });
    }

    // A page's own document that the program fetched itself, read as a browser with scripts off
    // shows it: parsed by the engine's HTML parser without a browsing context (nothing runs and
    // nothing is loaded), its addresses resolved against its base as the page would resolve them.

    // Whether the document declares its encoding in a meta element.
    function declaresCharset(doc) {
        var metas = doc.getElementsByTagName('meta');
        for (var i = 0; i < metas.length; ++i) {
            var m = metas[i];
            if (m.hasAttribute('charset'))
                return true;
            if ((m.getAttribute('http-equiv') || '').trim().toLowerCase() === 'content-type' &&
                /charset/i.test(m.getAttribute('content') || ''))
                return true;
        }
        return false;
    }

    // Gives the document the base that it has at its own address: its first <base href> resolved
    // against that address (which is what the page's base would be), or the address itself.
    function settleBase(doc, address) {
        var own = doc.querySelector('base[href]');
        var ours = doc.createElementNS(HTML_NS, 'base');
        ours.setAttribute('href', address);
        var head = doc.head || doc.documentElement;
        if (!head)
            return false;
        head.insertBefore(ours, head.firstChild);
        if (!own)
            return true;
        var a = doc.createElementNS(HTML_NS, 'a');
        a.setAttribute('href', own.getAttribute('href'));
        var resolved = a.href;
        head.removeChild(ours);
        // A base that does not parse, or one to data: or javascript:, leaves the page's address.
        if (!SCHEME.test(resolved) || /^(data|javascript):/i.test(resolved))
            resolved = address;
        own.setAttribute('href', resolved);
        return true;
    }

    // The addresses of a parsed document and of the srcdoc frames in it (the only frames that a
    // browser without scripts or subresources shows), up to limit.
    function readTree(doc, limit) {
        var scan = new Scan(doc, limit, null);
        scan.inert = true;
        scan.walk(doc, '');
        var parts = [];
        for (var i = 0; i < scan.frames.length && !scan.full; ++i) {
            var e = scan.frames[i].element;
            if (e.localName !== 'iframe' || !e.hasAttribute('srcdoc'))
                continue;
            var inner = new DOMParser().parseFromString(e.getAttribute('srcdoc'), 'text/html');
            if (!settleBase(inner, doc.baseURI))
                continue;
            parts.push({ prefix: scan.frames[i].prefix, found: readTree(inner, Math.max(0, limit - scan.count)) });
        }
        return scan.merge(parts);
    }

    // Parses the document at url (the program's hand-over address); done gets it, or null.
    function parseHandedOver(url, mime, done) {
        var x = new XMLHttpRequest();
        x.open('GET', url);
        if (mime)
            x.overrideMimeType(mime);
        x.responseType = 'document';
        x.onload = function () {
            done(x.status === 200 ? x.response : null);
        };
        x.onerror = x.onabort = function () {
            done(null);
        };
        x.send();
    }

    var reads = {};

    window.__nepirikaScan = {
        ready: ready,
        // Starts a collection of this frame's tree: its answer as JSON, or a ticket for take().
        start: function (limit, budgetMs) {
            var generation = (typeof window.__nepirikaGeneration === 'number') ? window.__nepirikaGeneration : -1;
            var box = { json: null };
            new Scan(document, limit, ready).run(Date.now() + budgetMs, function (found) {
                box.json = encode(found, generation);
            });
            if (box.json !== null)
                return box.json;
            var ticket = 't' + (++tickets);
            waiting[ticket] = box;
            return ticket;
        },
        // Reads a handed-over document (see above) under ticket. o: url (the hand-over address),
        // address (the page's own), declared (its response named its encoding, or it starts with a
        // byte order mark), ascii (all its bytes are ASCII), utf8 (its bytes are valid UTF-8), limit,
        // generation. The end sets the document's title to "read " + ticket; take(ticket) then
        // gives the answer as JSON, or '!' when the document must be read by loading it instead.
        read: function (ticket, o) {
            var box = { json: null };
            waiting[ticket] = box;
            function end(json) {
                box.json = json;
                document.title = 'read ' + ticket;
            }
            function walk(doc) {
                if (!doc || !settleBase(doc, o.address))
                    return end('!');
                end(encode(readTree(doc, o.limit), o.generation, o.address));
            }
            parseHandedOver(o.url, '', function (doc) {
                if (!doc || o.declared || declaresCharset(doc))
                    return walk(doc);
                // Nothing names the encoding: a browser takes valid UTF-8 as UTF-8 and plain ASCII in
                // its default encoding; for anything else its guess is not to be foretold here.
                if (o.ascii)
                    return parseHandedOver(o.url + '?again', 'text/html; charset=windows-1252', walk);
                walk(o.utf8 ? doc : null);
            });
        },
        // The answer of a waiting collection: '' while frames are still answering, '-' for a ticket
        // that is not known.
        take: function (ticket) {
            var box = waiting[ticket];
            if (!box)
                return '-';
            if (box.json === null)
                return '';
            delete waiting[ticket];
            return box.json;
        }
    };

    // A frame that failed to load tells its parent not to ask (its first, empty document may have
    // announced itself before); asked all the same, it answers at once with nothing.
    if (window.parent !== window) {
        try {
            window.parent.postMessage({ nepirikaReady: isErrorPage(document) ? 0 : 1 }, '*');
        } catch (x) {
        }
    }
})();
