// Piece 5 of the collector script: the hand-over to the C++ side. Answers in pieces, the reading of
// a document that the program fetched itself, the collector's entry points (window.__nepirikaScan)
// and the closure's end.

    // An answer handed over in pieces of about PIECE_CHARS characters of addresses each, so that no
    // copy of the whole answer is ever made. The first piece carries what is known of the page;
    // each piece its addresses, their vias (one character each: an index into the vias that the
    // pieces have named so far), their charsets and their documents' titles (as runs: [count,
    // charset, count, charset…]), the facts and the alternative texts of its images (see Scan.fact
    // and Scan.add; their indexes among the piece's images) and, but for the last, the ticket that
    // the next is asked for with.
    var PIECE_CHARS = 4 << 20;
    var MAX_VIAS = 50000;

    function Handover(found, bound, generation, location, type) {
        this.found = found;
        this.head = { location: location === undefined ? String(document.URL) : location,
                      type: type === undefined ? String(document.contentType || '') : type,
                      generation: generation, cut: bound.cut, dropped: bound.dropped, silent: found.silent || [] };
        this.group = 0;
        this.at = 0;
        this.vias = new Map();
        this.fact = 0;
        this.linkFact = 0;
        this.alt = 0;
    }

    // The sets of the links that wrap an image, as factsOf gives the images' facts: flat pairs.
    Handover.prototype.linkSetsOf = function (index, local, out) {
        var facts = this.found.linkFacts;
        if (!Array.isArray(facts))
            return;
        for (; this.linkFact + 1 < facts.length && facts[this.linkFact] <= index; this.linkFact += 2) {
            if (facts[this.linkFact] === index)
                out.push(local, facts[this.linkFact + 1]);
        }
    };

    // The alternative text of the answer's image index, put in out as (index in the piece, text).
    Handover.prototype.altsOf = function (index, local, out) {
        var alts = this.found.alts;
        if (!Array.isArray(alts))
            return;
        for (; this.alt + 1 < alts.length && alts[this.alt] <= index; this.alt += 2) {
            if (alts[this.alt] === index)
                out.push(local, alts[this.alt + 1]);
        }
    };

    // The facts of the answer's image index, put in out under the image's index in the piece.
    Handover.prototype.factsOf = function (index, local, out) {
        var facts = this.found.facts;
        if (!Array.isArray(facts))
            return;
        for (; this.fact + 4 < facts.length && facts[this.fact] <= index; this.fact += 5) {
            if (facts[this.fact] === index)
                out.push(local, facts[this.fact + 1], facts[this.fact + 2], facts[this.fact + 3], facts[this.fact + 4]);
        }
    };

    Handover.prototype.next = function (ticket) {
        var piece = this.head || {}, names = [], chars = 0, groups = ['links', 'images', 'embeds'];
        var keys = [['links', 'linkVias', 'linkCharsets', 'linkTitles'],
                    ['images', 'imageVias', 'imageCharsets', 'imageTitles'],
                    ['embeds', 'embedVias', 'embedCharsets', 'embedTitles']];
        this.head = null;
        piece.imageFacts = [];
        piece.linkSets = [];
        piece.imageAlts = [];
        for (var g = 0; g < 3; ++g) {
            piece[keys[g][0]] = [];
            piece[keys[g][1]] = '';
            piece[keys[g][2]] = [];
            piece[keys[g][3]] = [];
        }
        while (this.group < 3 && chars < PIECE_CHARS) {
            var list = this.found[groups[this.group]], urls = piece[keys[this.group][0]], codes = [];
            var runs = piece[keys[this.group][2]], titleRuns = piece[keys[this.group][3]];
            for (; this.at + STRIDE - 1 < list.length && chars < PIECE_CHARS; this.at += STRIDE) {
                var via = list[this.at + 1], n = this.vias.get(via);
                if (n === undefined) {
                    n = this.vias.size < MAX_VIAS ? this.vias.size : 0;
                    if (this.vias.size < MAX_VIAS) {
                        this.vias.set(via, n);
                        names.push(via);
                    }
                }
                urls.push(list[this.at]);
                codes.push(0x30 + n);
                if (this.group === 1) {
                    this.factsOf(this.at / STRIDE, urls.length - 1, piece.imageFacts);
                    this.altsOf(this.at / STRIDE, urls.length - 1, piece.imageAlts);
                } else if (this.group === 0) {
                    this.linkSetsOf(this.at / STRIDE, urls.length - 1, piece.linkSets);
                }
                var charset = list[this.at + 2], r = runs.length;
                if (r >= 2 && runs[r - 1] === charset)
                    ++runs[r - 2];
                else
                    runs.push(1, charset);
                var title = list[this.at + 3], t = titleRuns.length;
                if (t >= 2 && titleRuns[t - 1] === title)
                    ++titleRuns[t - 2];
                else
                    titleRuns.push(1, title);
                chars += list[this.at].length + 1;
            }
            var s = '';
            for (var j = 0; j < codes.length; j += 8192)
                s += String.fromCharCode.apply(null, codes.slice(j, j + 8192));
            piece[keys[this.group][1]] = s;
            if (this.at + STRIDE - 1 >= list.length) {
                ++this.group;
                this.at = 0;
            }
        }
        piece.vias = names;
        if (this.group < 3)
            piece.more = ticket;
        return JSON.stringify(piece);
    };

    // Hands over the first piece of an answer; the rest wait under ticket.
    function handOver(ticket, handover) {
        var piece = handover.next(ticket);
        if (handover.group < 3)
            waiting[ticket] = handover;
        return piece;
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
    // browser without scripts or subresources shows), within bound.
    function readTree(doc, bound) {
        var scan = new Scan(doc, bound, null);
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
            parts.push({ prefix: scan.frames[i].prefix, found: readTree(inner, bound), answered: true });
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

    window.__nepirikaScan = {
        lines: lines,
        // Starts a collection of this frame's tree with the collection's own key, within count
        // addresses and chars characters: the first piece of its answer, or a ticket for take().
        start: function (key, count, chars, budgetMs) {
            arm();
            var generation = (typeof window.__nepirikaGeneration === 'number') ? window.__nepirikaGeneration : -1;
            var ticket = 't' + (++tickets), box = { handover: null }, bound = new Bound(count, chars);
            waiting[ticket] = box;
            new Scan(document, bound, lines).run(Date.now() + budgetMs, key, function (found) {
                box.handover = new Handover(found, bound, generation);
            });
            if (box.handover === null)
                return ticket;
            delete waiting[ticket];
            return handOver(ticket, box.handover);
        },
        // Reads a handed-over document (see above) under ticket. o: url (the hand-over address),
        // address (the page's own), declared (its response named its encoding, or it starts with a
        // byte order mark), ascii (all its bytes are ASCII), utf8 (its bytes are valid UTF-8), count
        // and chars (the bounds), generation. The end sets the document's title to "read " + ticket;
        // take(ticket) then gives the answer's first piece, or '!' when the document must be read
        // by loading it instead.
        read: function (ticket, o) {
            var box = { handover: null, refused: false };
            waiting[ticket] = box;
            function end(handover) {
                box.handover = handover;
                box.refused = !handover;
                document.title = 'read ' + ticket;
            }
            function walk(doc) {
                if (!doc || !settleBase(doc, o.address))
                    return end(null);
                var bound = new Bound(o.count, o.chars);
                end(new Handover(readTree(doc, bound), bound, o.generation, o.address, 'text/html'));
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
        // The next piece of an answer: '' while frames are still answering (or the document is
        // being read), '-' for a ticket that is not known, '!' for a document to be loaded instead.
        take: function (ticket) {
            var box = waiting[ticket];
            if (!box)
                return '-';
            if (box instanceof Handover) {
                delete waiting[ticket];
                return handOver(ticket, box);
            }
            if (box.refused) {
                delete waiting[ticket];
                return '!';
            }
            if (box.handover === null)
                return '';
            delete waiting[ticket];
            return handOver(ticket, box.handover);
        },
        // Forgets an answer that is no longer awaited.
        drop: function (ticket) {
            delete waiting[ticket];
        }
    };

    arm();
    new MutationObserver(arm).observe(document, { childList: true });
    openLine();
})();
