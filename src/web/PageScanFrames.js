// Piece 4 of the collector script: the frame protocol. A collection of a document and its frames
// within its bounds: same-origin frames walked from here, cross-origin frames asked over their
// collectors' own lines, which this part opens and listens for.

    // The engine's own page for a frame that failed to load holds nothing of the page's.
    function isErrorPage(doc) {
        try {
            return /^chrome-error:/i.test(String(doc.URL)) || /^chrome-error:/i.test(String(doc.location.href));
        } catch (x) {
            return false;
        }
    }

    // Walks the document, then its frames; done gets the whole tree's findings (at once when no
    // frame has to be asked, or when the deadline passes for frames that have not answered, which
    // the findings name). key is the collection's, asked for by every frame's answer.
    Scan.prototype.run = function (deadline, key, done) {
        if (isErrorPage(this.doc)) {
            done(this.merge([]));
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
        function answered(p) {
            return function (found) {
                p.found = found;
                p.answered = true;
                if (--open === 0)
                    end();
            };
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
            var part = { prefix: f.prefix, address: frameAddress(f.element), remote: !d, found: null, answered: false };
            parts.push(part);
            if (d) {
                // Same origin, a document written by script included: walked from here, with
                // the lines that its own collector holds to its frames.
                var theirs = null;
                try {
                    theirs = w.__nepirikaScan;
                } catch (x) {
                }
                ++open;
                new Scan(d, this.bound, theirs ? theirs.lines : null).run(deadline, key, answered(part));
                continue;
            }
            var line = this.lines ? this.lines.get(w) : undefined;
            if (line === null) {
                part.answered = true; // the engine's error page: nothing of the frame's
            } else if (line) {
                ++open;
                ask(line, key, this.bound, deadline - 50, answered(part));
            }
        }
        if (--open === 0)
            end();
        else
            setTimeout(end, Math.max(0, deadline - Date.now()));
    };

    // The address of a frame element, to name the frame by.
    function frameAddress(e) {
        var a = '';
        try {
            a = text(e.src);
        } catch (x) {
        }
        return a || e.localName;
    }

    // The document's own findings, then each frame's in document order, within the bound; a
    // frame's answer counts only as far as the bound takes it. The frames that gave no answer are
    // named in silent.
    Scan.prototype.merge = function (parts) {
        var out = { links: this.links, images: this.images, embeds: this.embeds, silent: [],
                    facts: this.facts, sets: this.sets, linkFacts: this.linkFacts, alts: this.alts };
        var groups = ['links', 'images', 'embeds'], bound = this.bound;
        for (var i = 0; i < parts.length && !this.full; ++i) {
            var part = parts[i], found = part.found;
            if (!part.answered) {
                out.silent.push(part.address);
                continue;
            }
            if (!found || typeof found !== 'object')
                continue;
            if (Array.isArray(found.silent))
                for (var s = 0; s < found.silent.length && s < 1000; ++s)
                    if (typeof found.silent[s] === 'string')
                        out.silent.push(found.silent[s]);
            var moved = [], movedLinks = [];
            for (var g = 0; g < groups.length && !this.full; ++g) {
                var from = found[groups[g]], to = out[groups[g]];
                if (!Array.isArray(from))
                    continue;
                for (var j = 0; j + STRIDE - 1 < from.length; j += STRIDE) {
                    var url = from[j], via = from[j + 1], charset = from[j + 2], title = from[j + 3];
                    if (typeof url !== 'string' || typeof via !== 'string' || typeof charset !== 'string' ||
                        typeof title !== 'string')
                        continue;
                    // A same-origin frame's findings were taken from the bound as they were made.
                    if (part.remote && !bound.take(url)) {
                        if (this.full)
                            break;
                        continue;
                    }
                    if (to === out.images)
                        moved[j / STRIDE] = to.length / STRIDE;
                    else if (to === out.links)
                        movedLinks[j / STRIDE] = to.length / STRIDE;
                    to.push(url, part.prefix + via, charset, title.slice(0, TITLE_CHARS));
                }
            }
            this.mergeFacts(out, found, moved, movedLinks);
            mergeAlts(out, found, moved);
            if (part.remote) {
                if (found.cut === 'count' || found.cut === 'chars')
                    bound.cut = bound.cut || found.cut;
                if (typeof found.dropped === 'number' && found.dropped > 0)
                    bound.dropped += Math.min(found.dropped, 1e9);
            }
        }
        return out;
    };

    // The bounds of one page's collection: at most count addresses with chars characters of
    // address text in all. Beyond them the collection is cut (cut says by which bound); a data:
    // address longer than DATA_CHARS is left out and counted in dropped.
    var DATA_CHARS = 1 << 20;
    function Bound(count, chars) {
        this.count = Math.max(0, count);
        this.chars = Math.max(0, chars);
        this.cut = '';
        this.dropped = 0;
    }

    // Whether url is taken, within the bounds.
    Bound.prototype.take = function (url) {
        if (this.cut)
            return false;
        if (url.length > DATA_CHARS && /^data:/i.test(url)) {
            ++this.dropped;
            return false;
        }
        if (this.count <= 0 || url.length > this.chars) {
            this.cut = this.count <= 0 ? 'count' : 'chars';
            return false;
        }
        --this.count;
        this.chars -= url.length;
        return true;
    };

    function number(v, otherwise) {
        return typeof v === 'number' && isFinite(v) ? v : otherwise;
    }

    // Asks a cross-origin frame's collector over its line, with a port made for this request: its
    // answer counts only there, and only with the collection's key.
    function ask(line, key, bound, deadline, done) {
        var channel = new MessageChannel(), answered = false;
        channel.port1.onmessage = function (ev) {
            var d = ev.data;
            if (answered || !d || typeof d !== 'object' || d.key !== key)
                return;
            answered = true;
            channel.port1.close();
            done(d);
        };
        try {
            line.postMessage({ key: key, count: bound.count, chars: bound.chars, deadline: deadline },
                             [channel.port2]);
        } catch (x) {
            // Left unanswered: named when the time is up.
        }
    }

    // This frame's line to its parent's collector: made when the document is created, before any of
    // its scripts runs, and handed over with the secret; only requests on it are answered. The
    // engine's error page for a frame that failed to load tells the parent that it has nothing.
    function openLine() {
        if (window.parent === window)
            return;
        var error = isErrorPage(document);
        var channel = error ? null : new MessageChannel();
        if (channel)
            channel.port1.onmessage = onRequest;
        try {
            window.parent.postMessage({ nepirikaHello: SECRET, ready: error ? 0 : 1 }, '*',
                                      channel ? [channel.port2] : []);
        } catch (x) {
        }
    }

    function onRequest(ev) {
        var d = ev.data, port = ev.ports && ev.ports[0];
        if (!port || !d || typeof d !== 'object' || typeof d.key !== 'string')
            return;
        arm();
        var bound = new Bound(number(d.count, 0), number(d.chars, 0));
        new Scan(document, bound, lines).run(number(d.deadline, Date.now()), d.key, function (found) {
            found.key = d.key;
            found.cut = bound.cut;
            found.dropped = bound.dropped;
            try {
                port.postMessage(found);
            } catch (x) {
            }
            port.close();
        });
    }

    // The lines of the frames' collectors. A message that carries the secret is this page's
    // collectors' own: the page's scripts never see it.
    function onHello(ev) {
        var d = ev.data;
        if (!d || typeof d !== 'object' || d.nepirikaHello !== SECRET)
            return;
        ev.stopImmediatePropagation();
        if (!ev.source || ev.source === window)
            return;
        lines.set(ev.source, d.ready === 1 && ev.ports && ev.ports[0] ? ev.ports[0] : null);
    }

    // Listening before any script of the page does. document.open() takes every listener off the
    // window, this one included: it is put back as soon as the document is emptied, and at every
    // collection.
    function arm() {
        window.addEventListener('message', onHello, true);
    }
