// Piece 2 of the collector script, inside the closure that PageScanStart.js opens: the walk of one
// document. Its elements in document order with their shadow roots; links, images, srcsets, lazy
// attributes and embeds; the images' sets and facts, the links' sets, alternative texts and titles.

    // One document's walk: links, images and embeds as flat lists of (address, via, charset, title)
    // (see STRIDE), within bound (see Bound). The charset is the encoding of the document the
    // address stands in, a frame's own for a frame's: it reads a file name whose bytes are no UTF-8;
    // the title is that document's title. The images' alternative texts are kept beside them as
    // flat pairs: index among the images, text (only where there is one).
    function Scan(doc, bound, lineMap) {
        this.doc = doc;
        this.bound = bound;
        this.lines = lineMap;
        this.links = [];
        this.images = [];
        this.embeds = [];
        this.frames = [];
        this.facts = [];
        this.sets = 0;
        this.set = null;
        this.descriptor = '';
        this.pictures = null;
        // The sets of images that a link wraps, given when the link was met (see linkedSet).
        this.wrapped = null;
        // The set of the image that the link being added wraps, and the links' sets: flat pairs of
        // index among the links and set.
        this.linkSet = null;
        this.linkFacts = [];
        this.anchor = null;
        this.charset = charsetOf(doc);
        this.title = titleOf(doc);
        this.alts = [];
        // The element being walked, whose alternative text an image added now gets (see altText).
        this.current = null;
        this.altElement = null;
        this.altValue = '';
        // A document parsed without a browsing context: its parser attached no shadow roots.
        this.inert = false;
    }

    Scan.prototype.add = function (group, url, via) {
        if (!this.bound.take(url))
            return;
        group.push(url, via, this.charset, this.title);
        if (group === this.links && this.linkSet !== null)
            this.linkFacts.push(this.links.length / STRIDE - 1, this.linkSet);
        if (group !== this.images)
            return;
        if (this.set !== null)
            this.fact();
        if (this.current !== this.altElement) {
            this.altElement = this.current;
            this.altValue = altText(this.current);
        }
        if (this.altValue)
            this.alts.push(this.images.length / STRIDE - 1, this.altValue);
    };

    // The facts that the page gives of image candidates without fetching them: which set each one
    // belongs to (the candidates of one <img>, or of one <picture> with its sources), its srcset
    // descriptor and its element's width and height attributes. Kept beside the images as flat groups
    // of five: index among the images, set, descriptor, width, height (-1 where absent).
    Scan.prototype.inSet = function (e, set) {
        this.set = set === null ? null : { id: set, width: dimension(e, 'width'), height: dimension(e, 'height') };
    };

    Scan.prototype.fact = function () {
        var s = this.set;
        this.facts.push(this.images.length / STRIDE - 1, s.id, this.descriptor, s.width, s.height);
    };

    // The set of a <picture>: its sources and its <img> share it.
    Scan.prototype.pictureSet = function (picture) {
        if (!this.pictures)
            this.pictures = new Map();
        var set = this.pictures.get(picture);
        if (set === undefined) {
            set = ++this.sets;
            this.pictures.set(picture, set);
        }
        return set;
    };

    Scan.prototype.imageSet = function (e) {
        var given = this.wrapped ? this.wrapped.get(e) : undefined;
        if (given !== undefined)
            return given;
        var p = e.parentElement;
        return p && p.localName === 'picture' && p.namespaceURI === HTML_NS ? this.pictureSet(p) : ++this.sets;
    };

    // The set of the first image that a link wraps (a thumbnail), numbered now: the image takes it
    // when the walk reaches it. null when the link wraps no image.
    Scan.prototype.linkedSet = function (a) {
        var img = a.querySelector('img');
        if (!img)
            return null;
        var p = img.parentElement;
        if (p && p.localName === 'picture' && p.namespaceURI === HTML_NS)
            return this.pictureSet(p);
        if (!this.wrapped)
            this.wrapped = new Map();
        var set = this.wrapped.get(img);
        if (set === undefined) {
            set = ++this.sets;
            this.wrapped.set(img, set);
        }
        return set;
    };

    // A link: a page as ever, and a picture as well where it names an image file, in the set of the
    // thumbnail it wraps.
    Scan.prototype.link = function (e, via) {
        var url = text(e.href), set = this.linkedSet(e);
        this.linkSet = set;
        this.add(this.links, url, via);
        this.linkSet = null;
        var type = (e.getAttribute('type') || '').trim().toLowerCase();
        var path = url.replace(/[?#][\s\S]*$/, '');
        if (!/^(https?|file):/i.test(url) || !(IMAGE_FILE.test(path) || type.indexOf('image/') === 0))
            return;
        this.set = set === null ? null : { id: set, width: -1, height: -1 };
        this.add(this.images, url.replace(/#[\s\S]*$/, ''), via);
        this.set = null;
    };

    // A frame's facts after its images were taken in: moved maps its image indexes to ours (and
    // movedLinks its links'), and its sets are numbered after ours.
    Scan.prototype.mergeFacts = function (out, found, moved, movedLinks) {
        var facts = found.facts, base = out.sets;
        if (typeof found.sets === 'number')
            out.sets += found.sets;
        var links = found.linkFacts;
        if (Array.isArray(links) && movedLinks)
            for (var l = 0; l + 1 < links.length; l += 2)
                if (typeof movedLinks[links[l]] === 'number' && typeof links[l + 1] === 'number')
                    out.linkFacts.push(movedLinks[links[l]], base + links[l + 1]);
        if (!Array.isArray(facts))
            return;
        for (var k = 0; k + 4 < facts.length; k += 5) {
            var index = moved[facts[k]];
            if (typeof index !== 'number' || typeof facts[k + 1] !== 'number' || typeof facts[k + 2] !== 'string')
                continue;
            out.facts.push(index, base + facts[k + 1], facts[k + 2], +facts[k + 3], +facts[k + 4]);
        }
    };

    // A frame's alternative texts after its images were taken in (see mergeFacts).
    function mergeAlts(out, found, moved) {
        var alts = found.alts;
        if (!Array.isArray(alts))
            return;
        for (var k = 0; k + 1 < alts.length; k += 2) {
            var index = moved[alts[k]];
            if (typeof index === 'number' && typeof alts[k + 1] === 'string')
                out.alts.push(index, alts[k + 1].slice(0, ALT_CHARS));
        }
    }

    Object.defineProperty(Scan.prototype, 'full', {
        get: function () {
            return this.bound.cut !== '';
        }
    });

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
        if (r && (group === this.links || isFile(r)))
            this.add(group, r, via);
    };

    // A script address in an image's or an embed's source runs; it names no file.
    function isFile(url) {
        return !/^javascript:/i.test(url);
    }

    Scan.prototype.named = function (group, v, via, lazy) {
        if (v === null || v === undefined)
            return;
        v = v.trim();
        if (!v || (lazy && !looksLikeAddress(v)))
            return;
        var r = this.resolve(v);
        if (r && (group === this.links || isFile(r)))
            this.add(group, r, via);
    };

    Scan.prototype.srcset = function (v, via, lazy) {
        if (v === null)
            return;
        var descriptors = [], urls = srcsetUrls(v, descriptors);
        for (var i = 0; i < urls.length; ++i) {
            this.descriptor = descriptors[i];
            this.named(this.images, urls[i], via, lazy);
        }
        this.descriptor = '';
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
            this.current = e;
            if (ns === HTML_NS) {
                switch (name) {
                case 'a':
                    if (e.hasAttribute('href'))
                        this.link(e, at(prefix, 'a@href'));
                    break;
                case 'area':
                    if (e.hasAttribute('href'))
                        this.add(this.links, text(e.href), at(prefix, 'area@href'));
                    break;
                case 'img':
                    this.inSet(e, this.imageSet(e));
                    this.own(this.images, e, 'src', at(prefix, 'img@src'));
                    this.srcset(e.getAttribute('srcset'), at(prefix, 'img@srcset'), false);
                    this.lazy(e, prefix, 'img');
                    this.inSet(e, null);
                    break;
                case 'source':
                    var parent = e.parentElement ? e.parentElement.localName : '';
                    if (parent === 'picture') {
                        this.inSet(e, this.pictureSet(e.parentElement));
                        this.srcset(e.getAttribute('srcset'), prefix + 'source@srcset', false);
                        this.lazy(e, prefix, 'source');
                        this.inSet(e, null);
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
                case 'link':
                    this.linkImages(e, prefix);
                    break;
                // The old background attribute, which the engine still draws behind these.
                case 'body':
                case 'table':
                case 'thead':
                case 'tbody':
                case 'tfoot':
                case 'tr':
                case 'td':
                case 'th':
                    this.named(this.images, e.getAttribute('background'), prefix + name + '@background', false);
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
            } else if (ns === SVG_NS && name === 'a') {
                this.svgLink(e, prefix);
            }
            if (e.hasAttribute('style'))
                this.styles(e.getAttribute('style'), prefix + name + '@style');
            var shadow = e.shadowRoot || (this.inert ? declaredShadow(e, this.doc) : null);
            if (shadow)
                this.walk(shadow, prefix + 'shadow>');
        }
        this.current = null;
        this.sheetImages(root, prefix);
    };

    // The images that a <link> names: a preloaded image (its href and imagesrcset) and the page's
    // declared image (rel="image_src").
    Scan.prototype.linkImages = function (e, prefix) {
        var rel = ' ' + (e.getAttribute('rel') || '').toLowerCase().replace(/[\t\n\f\r ]+/g, ' ') + ' ';
        if (rel.indexOf(' image_src ') >= 0) {
            this.named(this.images, e.getAttribute('href'), prefix + 'link@href', false);
        } else if (rel.indexOf(' preload ') >= 0 && (e.getAttribute('as') || '').trim().toLowerCase() === 'image') {
            this.named(this.images, e.getAttribute('href'), prefix + 'link@href', false);
            this.srcset(e.getAttribute('imagesrcset'), prefix + 'link@imagesrcset', false);
        }
    };

    // An SVG link: href, or the older xlink:href.
    Scan.prototype.svgLink = function (e, prefix) {
        var href = e.getAttribute('href'), via = 'svg:a@href';
        if (href === null) {
            href = e.getAttributeNS(XLINK_NS, 'href');
            via = 'svg:a@xlink:href';
        }
        this.named(this.links, href, prefix + via, false);
    };
